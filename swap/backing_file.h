/*
 * The swap file and its directory: where it lies, how the listing names
 * it, whether its file system suits swap, and the zero-filled file itself.
 */
#ifndef MORVEND_SWAP_BACKING_FILE_H
#define MORVEND_SWAP_BACKING_FILE_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/number.h"
#include "core/unique_fd.h"

/*
 * Swap files are written a piece at a time: what a stop, or the next
 * look, may have to wait for at disk speed.
 */
inline constexpr std::int64_t fill_piece = std::int64_t{ 256 } * 1024;

/* The directory the swap file lies in: "." for a bare name. */
std::string swap_directory(const std::string &swap_file);

/*
 * The path mdconfig -l -v shows for disks over the swap file: its
 * directory resolved, then its last component.  Nothing, errno set, while
 * the directory cannot be resolved.
 */
std::optional<std::string> resolve_swap_file(const std::string &swap_file);

/* Creates the swap file's directory, one level, mode 0755. */
bool prepare_swap_directory(const std::string &swap_file);

/* The one place that removes the swap file's name. */
void remove_swap_file_name(const std::string &swap_file);

/*
 * Why the swap file's file system (ZFS, NFS, tmpfs) makes swapping to a
 * file unsound, naming both; empty when it does not.
 */
std::string unsound_file_system(const std::string &swap_file);

/*
 * Whether a file of the given bytes fits in the blocks free to non-root,
 * as statvfs(3) gives them.
 */
bool fits_in_free_space(std::uint64_t free_blocks, std::uint64_t total_blocks,
    std::uint64_t block_size, std::int64_t bytes);

/*
 * Bytes the swap file's file system leaves to non-root; 0 when it cannot
 * tell, or when already into root's reserve.
 */
std::int64_t room_for_swap_files(const std::string &swap_file);

/*
 * A fresh, empty swap file at path, mode 0600 from the start; none, errno
 * set, when it cannot be created.
 */
UniqueFd create_swap_file(const std::string &path);

/*
 * Writes the piece of zeros that starts at `at`, up to `end` at the most;
 * with synced, syncs when it reaches `end` or a multiple of 8 MiB, so
 * that no sync has much to write out at once.  The offset after it, or
 * -1, errno set.
 */
std::int64_t write_zero_piece(int fd, std::int64_t at, std::int64_t end,
    bool synced);

/*
 * Writes a fresh swap file of the given size, mode 0600 from the start,
 * running between_pieces, if any, after each piece (a signal's request
 * is answered there).  Fails, leaving no file behind and errno set, when
 * it would not fit, a write fails, or a stop comes first (ECANCELED).
 */
bool fill_swap_file(const std::string &path, std::int32_t mib,
    const std::function<void()> &between_pieces = {});

#endif
