// The system calls behind each question, per system.
#include "platform.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#elif defined(__DragonFly__)
#include <sys/diskslice.h>
#elif defined(__FreeBSD__)
#include <sys/disk.h>
#elif defined(__APPLE__) && __has_include(<sys/disk.h>)
#include <sys/disk.h>
#endif

#if defined(__APPLE__)
#include <CommonCrypto/CommonDigest.h>
#else
#include <openssl/evp.h>
#endif

std::optional<disk_facts> disk_facts_of(int fd, const struct stat& st)
{
#if defined(__linux__)
    // Linux: a block device answers BLKGETSIZE64 and BLKSSZGET.
    disk_facts disk;
    int sector = 0;
    if (!S_ISBLK(st.st_mode) || ioctl(fd, BLKGETSIZE64, &disk.size) != 0)
        return std::nullopt;
    if (ioctl(fd, BLKSSZGET, &sector) == 0 && sector > 0)
        disk.sector = static_cast<std::size_t>(sector);
    return disk;
#elif defined(__DragonFly__)
    // DragonFly: a disk is a character device that answers DIOCGPART.
    struct partinfo part {};
    if (!S_ISCHR(st.st_mode) || ioctl(fd, DIOCGPART, &part) != 0)
        return std::nullopt;
    return disk_facts{part.media_size,
                      part.media_blksize > 0 ? static_cast<std::size_t>(part.media_blksize) : 0};
#elif defined(__FreeBSD__)
    // FreeBSD: a disk is a character device that answers DIOCGMEDIASIZE and
    // DIOCGSECTORSIZE.
    off_t bytes = 0;
    u_int sector = 0;
    if (!S_ISCHR(st.st_mode) || ioctl(fd, DIOCGMEDIASIZE, &bytes) != 0 || bytes < 0)
        return std::nullopt;
    if (ioctl(fd, DIOCGSECTORSIZE, &sector) != 0)
        sector = 0;
    return disk_facts{static_cast<std::uint64_t>(bytes), sector};
#elif defined(__APPLE__) && defined(DKIOCGETBLOCKCOUNT)
    // macOS: /dev/diskN and the raw /dev/rdiskN answer DKIOCGETBLOCKCOUNT
    // and DKIOCGETBLOCKSIZE; the size is their product.
    std::uint64_t blocks = 0;
    std::uint32_t sector = 0;
    if ((!S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode)) ||
        ioctl(fd, DKIOCGETBLOCKCOUNT, &blocks) != 0 || ioctl(fd, DKIOCGETBLOCKSIZE, &sector) != 0)
        return std::nullopt;
    return disk_facts{blocks * sector, sector};
#else
    // Elsewhere no disk is recognised: its length is not known.
    (void)fd;
    (void)st;
    return std::nullopt;
#endif
}

std::size_t uncached_read_alignment(int fd)
{
#if defined(__linux__) && defined(STATX_DIOALIGN)
    // Linux 6.1 and later: statx with STATX_DIOALIGN.
    struct statx sx {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 && (sx.stx_mask & STATX_DIOALIGN))
        return sx.stx_dio_offset_align > sx.stx_dio_mem_align ? sx.stx_dio_offset_align
                                                              : sx.stx_dio_mem_align;
#else
    (void)fd;
#endif
    return 0;
}

bool read_uncached(int fd, bool on)
{
#if defined(O_DIRECT)
    // Linux, FreeBSD and DragonFly: O_DIRECT, set or cleared with fcntl(F_SETFL).
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
#elif defined(F_NOCACHE)
    // macOS: fcntl(F_NOCACHE).
    return fcntl(fd, F_NOCACHE, on ? 1 : 0) != -1;
#else
    (void)fd;
    return !on;
#endif
}

bool can_drop_cached_pages()
{
#if defined(__DragonFly__)
    // DragonFly: its libc declares posix_fadvise, and the function does
    // nothing ("DragonFly does not use this information").
    return false;
#elif defined(POSIX_FADV_DONTNEED)
    // Linux and FreeBSD: posix_fadvise(POSIX_FADV_DONTNEED). macOS has no
    // such call.
    return true;
#else
    return false;
#endif
}

void drop_cached_pages(int fd, std::uint64_t offset, std::uint64_t length)
{
#if defined(POSIX_FADV_DONTNEED) && !defined(__DragonFly__)
    // Linux and FreeBSD: posix_fadvise(POSIX_FADV_DONTNEED).
    posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_DONTNEED);
#else
    (void)fd;
    (void)offset;
    (void)length;
#endif
}

void no_readahead(int fd)
{
#if defined(POSIX_FADV_RANDOM)
    // Linux and FreeBSD: posix_fadvise(POSIX_FADV_RANDOM).
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
#elif defined(F_RDAHEAD)
    // macOS: fcntl(F_RDAHEAD) with 0.
    fcntl(fd, F_RDAHEAD, 0);
#else
    (void)fd;
#endif
}

void prefer_huge_pages(void* region, std::size_t length)
{
#if defined(MADV_HUGEPAGE)
    // Linux: madvise(MADV_HUGEPAGE). The BSDs and macOS have no such advice.
    madvise(region, length, MADV_HUGEPAGE);
#else
    (void)region;
    (void)length;
#endif
}

#if defined(__linux__)
namespace {

// Linux: whether the file system does direct I/O on this file, as
// statx(STATX_DIOALIGN) reports it (Linux 6.1 on): an offset alignment of 0
// means it does none, and serves O_DIRECT from the page cache, as ext4 does
// with data=journal, or for an encrypted file without inline encryption.
// Where statx cannot say, it is not taken for granted.
bool does_direct_io(int fd)
{
#if defined(STATX_DIOALIGN)
    struct statx sx {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) != 0)
        return false;
    return (sx.stx_mask & STATX_DIOALIGN) != 0 && sx.stx_dio_offset_align != 0;
#else
    (void)fd;
    return false;
#endif
}

}  // namespace
#endif

cache_bypass cache_bypass_of(int fd, const struct stat& st)
{
#if defined(__linux__)
    // Linux: the file system's magic number from fstatfs. O_DIRECT on a disk,
    // on ext2/3/4 and xfs where they do direct I/O on the file, and on tmpfs
    // reads the medium (tmpfs's medium is memory).
    // FUSE hands each uncached read to its server, which for ntfs-3g or
    // exfat-fuse reads a disk through that disk's page cache; a server that
    // names no disk (fusefat, a network share) may read through a cache of
    // its own. Others, btrfs
    // among them, may serve an uncached read from the page cache: always for
    // a compressed extent, and where the buffer faults.
    constexpr long ext4 = 0xef53, xfs = 0x58465342, tmpfs = 0x01021994, fuse = 0x65735546;
    struct statfs fs {};
    if (!S_ISREG(st.st_mode))
        return cache_bypass::whole;
    if (fstatfs(fd, &fs) != 0)
        return cache_bypass::partial;
    const long type = static_cast<long>(fs.f_type);
    if (type == fuse)
        return disk_behind(st).empty() ? cache_bypass::through_unnamed : cache_bypass::through_disk;
    if (type == tmpfs || ((type == ext4 || type == xfs) && does_direct_io(fd)))
        return cache_bypass::whole;
    return cache_bypass::partial;
#elif defined(__APPLE__)
    // macOS: the raw /dev/rdiskN has no cache; fcntl(F_NOCACHE) on a file or
    // on /dev/diskN keeps new pages out of the cache, and its manual page
    // leaves open whether pages cached before are still served.
    (void)fd;
    return S_ISCHR(st.st_mode) ? cache_bypass::whole : cache_bypass::unsure;
#else
    // FreeBSD and DragonFly: disks are raw character devices, with no cache;
    // open(2) promises of O_DIRECT on a file only that the system "will
    // attempt to avoid caching the data", and posix_fadvise(2) of
    // POSIX_FADV_DONTNEED on FreeBSD only that it "may decrease the
    // in-memory priority of clean data".
    (void)fd;
    return S_ISREG(st.st_mode) ? cache_bypass::unsure : cache_bypass::whole;
#endif
}

bool mostly_compressed(int fd)
{
#if defined(__linux__) && defined(FS_IOC_FIEMAP)
    // Linux: FS_IOC_FIEMAP marks a compressed extent FIEMAP_EXTENT_ENCODED.
    // The first extents stand for the file: a file system compresses all of
    // a file's data or, where it gives up on data that does not shrink,
    // little of it.
    constexpr unsigned asked = 16;
    alignas(struct fiemap) unsigned char
        room[sizeof(struct fiemap) + asked * sizeof(struct fiemap_extent)] = {};
    auto* map = reinterpret_cast<struct fiemap*>(room);
    map->fm_start = 0;
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_extent_count = asked;
    if (ioctl(fd, FS_IOC_FIEMAP, map) != 0)
        return false;
    unsigned encoded = 0;
    for (unsigned k = 0; k < map->fm_mapped_extents && k < asked; ++k)
        if (map->fm_extents[k].fe_flags & FIEMAP_EXTENT_ENCODED)
            ++encoded;
    return encoded * 2 > map->fm_mapped_extents;
#else
    (void)fd;
    return false;
#endif
}

loop_backing loop_backing_of(const struct stat& st)
{
    loop_backing loop;
#if defined(__linux__)
    // Linux: /sys/dev/block/MAJ:MIN/loop/ names a loop device's file
    // (backing_file) and says whether it reads it with direct I/O (dio).
    if (!S_ISBLK(st.st_mode))
        return loop;
    const std::string folder = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                               std::to_string(minor(st.st_rdev)) + "/loop/";
    auto first_line = [](const std::string& name) {
        std::string line;
        if (std::FILE* file = std::fopen(name.c_str(), "re")) {
            char text[4096] = {};
            if (std::fgets(text, sizeof text, file))
                line = text;
            std::fclose(file);
        }
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        return line;
    };
    loop.file = first_line(folder + "backing_file");
    loop.direct = first_line(folder + "dio") == "1";
#else
    // The BSDs' md(4) and vn(4) and macOS's disk images are not looked into.
    (void)st;
#endif
    return loop;
}

std::string raw_disk_name(const std::string& name)
{
    const std::size_t slash = name.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    if (name.compare(base, 4, "disk") != 0 || name.size() == base + 4 || name[base + 4] < '0' ||
        name[base + 4] > '9')
        return "";
    return name.substr(0, base) + "r" + name.substr(base);
}

std::string raw_disk_of(const std::string& name, const struct stat& st)
{
#if defined(__APPLE__)
    // macOS: a block device (/dev/diskN) is read through the buffer cache,
    // F_NOCACHE or not (spec_read goes through buf_bread); its character
    // device, /dev/rdiskN, is not.
    return S_ISBLK(st.st_mode) ? raw_disk_name(name) : "";
#else
    (void)name;
    (void)st;
    return "";
#endif
}

std::string disk_behind(const struct stat& st)
{
#if defined(__linux__)
    // Linux: /proc/self/mountinfo names the mount of the file's st_dev, its
    // type and its source: "36 25 7:0 / /mnt rw - fuseblk /dev/loop0 rw,...".
    // A FUSE driver on a disk is mounted as fuseblk, or as fuse.TYPE with
    // the disk as its source (fuse2fs: "fuse.ext4 /dev/loop0"); the type
    // alone does not tell.
    std::FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
    if (!mounts)
        return "";
    const std::string device =
        std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    std::string disk;
    char* line = nullptr;
    std::size_t room = 0;
    while (disk.empty() && getline(&line, &room, mounts) > 0) {
        // The fields before " - " are the mount's; the type and source follow it.
        const char* rest = nullptr;
        char* save = nullptr;
        char* fields[3] = {};
        char* dash = std::strstr(line, " - ");
        if (!dash)
            continue;
        *dash = '\0';
        rest = dash + 3;
        for (int k = 0; k < 3; ++k)
            fields[k] = strtok_r(k == 0 ? line : nullptr, " ", &save);
        char type[64] = {}, source[4096] = {};
        struct stat source_st {};
        if (fields[2] && device == fields[2] &&
            std::sscanf(rest, "%63s %4095s", type, source) == 2 &&
            (std::strcmp(type, "fuseblk") == 0 ||
             ((std::strcmp(type, "fuse") == 0 || std::strncmp(type, "fuse.", 5) == 0) &&
              stat(source, &source_st) == 0 && S_ISBLK(source_st.st_mode))))
            disk = source;
    }
    std::free(line);
    std::fclose(mounts);
    return disk;
#else
    (void)st;
#endif
    return "";
}

#if defined(__APPLE__)
// macOS: CommonCrypto, from the SDK; it has no OpenSSL of its own. MD5 and
// SHA-1 are deprecated there for new protocols, but publishers' lists still
// give them, and checking a download against one is what they are for.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
struct running_digest {
    digest_algorithm algorithm;
    union {
        CC_MD5_CTX md5;
        CC_SHA1_CTX sha1;
        CC_SHA256_CTX sha256;  // SHA-224 too
        CC_SHA512_CTX sha512;  // SHA-384 too
    };
};

void end_digest::operator()(running_digest* digest) const
{
    delete digest;
}

digest_handle start_digest(digest_algorithm algorithm)
{
    digest_handle digest(new running_digest);
    digest->algorithm = algorithm;
    switch (algorithm) {
    case digest_algorithm::md5:
        CC_MD5_Init(&digest->md5);
        break;
    case digest_algorithm::sha1:
        CC_SHA1_Init(&digest->sha1);
        break;
    case digest_algorithm::sha224:
        CC_SHA224_Init(&digest->sha256);
        break;
    case digest_algorithm::sha256:
        CC_SHA256_Init(&digest->sha256);
        break;
    case digest_algorithm::sha384:
        CC_SHA384_Init(&digest->sha512);
        break;
    case digest_algorithm::sha512:
        CC_SHA512_Init(&digest->sha512);
        break;
    }
    return digest;
}

void add_to_digest(running_digest& digest, const unsigned char* data, std::size_t length)
{
    // CommonCrypto takes at most 4 GiB less a byte at a time (CC_LONG).
    while (length > 0) {
        const CC_LONG piece = static_cast<CC_LONG>(std::min<std::size_t>(length, 1u << 30));
        switch (digest.algorithm) {
        case digest_algorithm::md5:
            CC_MD5_Update(&digest.md5, data, piece);
            break;
        case digest_algorithm::sha1:
            CC_SHA1_Update(&digest.sha1, data, piece);
            break;
        case digest_algorithm::sha224:
            CC_SHA224_Update(&digest.sha256, data, piece);
            break;
        case digest_algorithm::sha256:
            CC_SHA256_Update(&digest.sha256, data, piece);
            break;
        case digest_algorithm::sha384:
            CC_SHA384_Update(&digest.sha512, data, piece);
            break;
        case digest_algorithm::sha512:
            CC_SHA512_Update(&digest.sha512, data, piece);
            break;
        }
        data += piece;
        length -= piece;
    }
}

std::string finish_digest(running_digest& digest)
{
    unsigned char bytes[CC_SHA512_DIGEST_LENGTH];
    std::size_t length = 0;
    switch (digest.algorithm) {
    case digest_algorithm::md5:
        CC_MD5_Final(bytes, &digest.md5);
        length = CC_MD5_DIGEST_LENGTH;
        break;
    case digest_algorithm::sha1:
        CC_SHA1_Final(bytes, &digest.sha1);
        length = CC_SHA1_DIGEST_LENGTH;
        break;
    case digest_algorithm::sha224:
        CC_SHA224_Final(bytes, &digest.sha256);
        length = CC_SHA224_DIGEST_LENGTH;
        break;
    case digest_algorithm::sha256:
        CC_SHA256_Final(bytes, &digest.sha256);
        length = CC_SHA256_DIGEST_LENGTH;
        break;
    case digest_algorithm::sha384:
        CC_SHA384_Final(bytes, &digest.sha512);
        length = CC_SHA384_DIGEST_LENGTH;
        break;
    case digest_algorithm::sha512:
        CC_SHA512_Final(bytes, &digest.sha512);
        length = CC_SHA512_DIGEST_LENGTH;
        break;
    }
    return std::string(reinterpret_cast<const char*>(bytes), length);
}
#pragma clang diagnostic pop
#else
// Linux and the BSDs: libcrypto's EVP digests (OpenSSL; LibreSSL on
// DragonFly, with the same interface), which use the processor's SHA
// extensions or vector units where it has them.
struct running_digest {
    EVP_MD_CTX* context = nullptr;
    ~running_digest() { EVP_MD_CTX_free(context); }
};

void end_digest::operator()(running_digest* digest) const
{
    delete digest;
}

digest_handle start_digest(digest_algorithm algorithm)
{
    const EVP_MD* md = nullptr;
    switch (algorithm) {
    case digest_algorithm::md5:
        md = EVP_md5();
        break;
    case digest_algorithm::sha1:
        md = EVP_sha1();
        break;
    case digest_algorithm::sha224:
        md = EVP_sha224();
        break;
    case digest_algorithm::sha256:
        md = EVP_sha256();
        break;
    case digest_algorithm::sha384:
        md = EVP_sha384();
        break;
    case digest_algorithm::sha512:
        md = EVP_sha512();
        break;
    }
    digest_handle digest(new running_digest);
    digest->context = EVP_MD_CTX_new();
    if (md == nullptr || digest->context == nullptr ||
        EVP_DigestInit_ex(digest->context, md, nullptr) != 1)
        return nullptr;
    return digest;
}

void add_to_digest(running_digest& digest, const unsigned char* data, std::size_t length)
{
    EVP_DigestUpdate(digest.context, data, length);
}

std::string finish_digest(running_digest& digest)
{
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(digest.context, bytes, &length) != 1)
        return "";
    return std::string(reinterpret_cast<const char*>(bytes), length);
}
#endif

std::string posix_option_string(const char* options)
{
#if defined(__GLIBC__)
    // glibc: getopt permutes the arguments unless the string starts with '+'.
    return std::string("+") + options;
#else
    // Elsewhere getopt stops at the first operand, and a '+' would be an option.
    return options;
#endif
}

void restart_option_parsing()
{
#if defined(__GLIBC__)
    // glibc: optind = 0 also resets its internal state.
    optind = 0;
#elif defined(__FreeBSD__) || defined(__DragonFly__) || defined(__OpenBSD__) || \
    defined(__NetBSD__) || defined(__APPLE__)
    // The BSDs and macOS: optreset.
    optreset = 1;
    optind = 1;
#else
    optind = 1;
#endif
}
