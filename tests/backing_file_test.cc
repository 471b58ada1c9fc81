/* The backing file on disk, and its directory. */
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <climits>

#include "swap/backing_file.h"
#include "tests/testbed.h"

namespace {

constexpr off_t mib = 1024 * 1024;

struct BackingFile : ::testing::Test {
	SimHost host;
	mode_t saved_umask = umask(022);

	~BackingFile() override { umask(saved_umask); }

	struct stat file_stat() const
	{
		struct stat sb = {};
		stat(host.swap_file.c_str(), &sb);
		return sb;
	}
};

bool
all_zero(const std::string &path)
{
	std::string data = read_file(path);
	return data.find_first_not_of('\0') == std::string::npos;
}

TEST_F(BackingFile, IsZerosWrittenOutWithMode0600WhateverTheUmask)
{
	for (mode_t mask : { 022u, 0u, 0277u }) {
		umask(mask);
		ASSERT_TRUE(fill_swap_file(host.swap_file, 3))
		    << "umask " << mask;
		struct stat sb = file_stat();
		EXPECT_EQ(sb.st_size, 3 * mib);
		EXPECT_GE(sb.st_blocks * 512, 3 * mib) << "the file has holes";
		EXPECT_EQ(sb.st_mode & 07777, 0600u) << "umask " << mask;
		EXPECT_TRUE(all_zero(host.swap_file));
	}
}

TEST_F(BackingFile, IsAFreshFileThatOldDescriptorsCannotRead)
{
	write_file(host.swap_file, "earlier contents");
	chmod(host.swap_file.c_str(), 0644);
	int old_fd = open(host.swap_file.c_str(), O_RDONLY);
	ASSERT_GE(old_fd, 0);
	struct stat before;
	fstat(old_fd, &before);

	ASSERT_TRUE(fill_swap_file(host.swap_file, 1));
	struct stat after = file_stat();
	EXPECT_NE(after.st_ino, before.st_ino);
	EXPECT_EQ(after.st_mode & 07777, 0600u);
	char buf[16] = {};
	EXPECT_EQ(pread(old_fd, buf, 7, 0), 7);
	EXPECT_STREQ(buf, "earlier");
	close(old_fd);
}

TEST_F(BackingFile, NothingIsWrittenForNoSizeOrNoRoom)
{
	for (std::int32_t size : { 0, -4, INT32_MAX }) {
		EXPECT_FALSE(fill_swap_file(host.swap_file, size)) << size;
		EXPECT_FALSE(exists(host.swap_file)) << size;
	}
}

/* The free-space check, on statvfs(3)'s fields as each system gives them. */
TEST(FreeSpace, Table)
{
	const std::uint64_t wrapped = static_cast<std::uint64_t>(-1234);
	/* clang-format off */
	const struct {
		const char *what;
		std::uint64_t free_blocks, total_blocks, block_size;
		std::int64_t bytes;
		bool fits;
	} rows[] = {
		{ "exactly the room left", 4, 100, 4096, 4 * 4096, true },
		{ "one byte over", 4, 100, 4096, 4 * 4096 + 1, false },
		{ "a part block takes a whole one", 1, 100, 4096, 1, true },
		{ "nothing free", 0, 100, 4096, 1, false },
		{ "into root's reserve: a negative count wrapped", wrapped, 100,
		  4096, 1, false },
		{ "no block size", 100, 100, 0, 1, false },
	};
	/* clang-format on */
	for (auto &row : rows)
		EXPECT_EQ(fits_in_free_space(row.free_blocks, row.total_blocks,
		              row.block_size, row.bytes),
		    row.fits)
		    << row.what;
}

/* A file system that fills up half way: the partial file goes. */
TEST_F(BackingFile, AWriteErrorLeavesNoFile)
{
	pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		struct rlimit limit = { mib, mib };
		signal(SIGXFSZ, SIG_IGN);
		setrlimit(RLIMIT_FSIZE, &limit);
		_exit(fill_swap_file(host.swap_file, 4) ? 1 : 0);
	}
	int status;
	waitpid(pid, &status, 0);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
	    << "a short file was reported as written";
	EXPECT_FALSE(exists(host.swap_file));
}

TEST_F(BackingFile, DirectoryIsCreatedOneLevelDeep)
{
	EXPECT_TRUE(prepare_swap_directory(host.path("new/swap0")));
	struct stat sb;
	ASSERT_EQ(stat(host.path("new").c_str(), &sb), 0);
	EXPECT_EQ(sb.st_mode & 07777, 0755u);
	EXPECT_FALSE(prepare_swap_directory(host.path("new/swap0")))
	    << "already there";

	EXPECT_FALSE(prepare_swap_directory(host.path("a/b/swap0")));
	EXPECT_FALSE(exists(host.path("a")));

	for (const char *path : { "/swap0", "swap0", "" })
		EXPECT_FALSE(prepare_swap_directory(path)) << path;
}

}
