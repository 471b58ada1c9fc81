/* A stdio stream that closes itself. */
#ifndef MORVEND_CORE_STDIO_FILE_H
#define MORVEND_CORE_STDIO_FILE_H

#include <cstdio>
#include <memory>

struct FileCloser {
	void operator()(FILE *file) const { std::fclose(file); }
};
using StdioFile = std::unique_ptr<FILE, FileCloser>;

#endif
