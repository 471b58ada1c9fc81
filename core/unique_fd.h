/* A file descriptor that closes itself. */
#ifndef MORVEND_CORE_UNIQUE_FD_H
#define MORVEND_CORE_UNIQUE_FD_H

#include <unistd.h>

#include <utility>

class UniqueFd {
public:
	UniqueFd() = default;
	explicit UniqueFd(int fd) : fd_(fd) {}
	UniqueFd(UniqueFd &&other) noexcept : fd_(std::exchange(other.fd_, -1))
	{
	}
	UniqueFd &operator=(UniqueFd &&other) noexcept
	{
		std::swap(fd_, other.fd_);
		return *this;
	}
	~UniqueFd()
	{
		if (fd_ >= 0)
			close(fd_);
	}

	int get() const { return fd_; }
	/* For a close whose failure matters: the caller closes it. */
	int release() { return std::exchange(fd_, -1); }
	explicit operator bool() const { return fd_ >= 0; }

private:
	int fd_ = -1;
};

#endif
