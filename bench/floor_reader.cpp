// The floor for comparing two files through read(2): requests of 32 KiB (or
// the KiB given third) into two buffers and memcmp, nothing else. Exits 0
// when equal, 1 otherwise.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Reads up to `size` bytes, retrying short reads; returns the count or -1.
ssize_t read_full(int fd, char* buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, buffer + done, size - done);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: floor_reader file1 file2 [request-KiB]\n");
        return 2;
    }
    size_t request = argc == 4 ? std::strtoul(argv[3], nullptr, 10) * 1024 : 32768;
    if (request == 0 || request > (size_t{4} << 20)) {
        std::fprintf(stderr, "floor_reader: request from 1 KiB to 4 MiB\n");
        return 2;
    }
    int fd1 = open(argv[1], O_RDONLY);
    int fd2 = open(argv[2], O_RDONLY);
    if (fd1 < 0 || fd2 < 0) {
        std::perror("open");
        return 2;
    }
    alignas(4096) static char block1[4 << 20], block2[4 << 20];
    int status = 0;
    for (;;) {
        ssize_t n1 = read_full(fd1, block1, request);
        ssize_t n2 = read_full(fd2, block2, request);
        if (n1 < 0 || n2 < 0)
            return 2;
        if (n1 != n2 || std::memcmp(block1, block2, static_cast<size_t>(n1)) != 0)
            status = 1;
        if (n1 < static_cast<ssize_t>(request) || n2 < static_cast<ssize_t>(request))
            return status;
    }
}
