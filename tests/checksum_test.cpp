// Checksums: the digests themselves, hashing as the image is read, and
// what a list or a digest given says the image should hash to.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "read/checksum.h"
#include "read/hashing.h"
#include "test_support.h"

namespace {

// The digest of `bytes`, hashed as the run hashes an image: `pieces` spans
// queued for the thread, then the rest on the calling thread.
std::string hashed(digest_algorithm algorithm, const std::string& bytes, std::size_t pieces)
{
    std::shared_ptr<image_hash> hash = start_image_hash(algorithm);
    EXPECT_TRUE(hash);
    if (!hash)
        return "";
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t piece = pieces == 0 ? 0 : bytes.size() / (pieces + 1);
    std::size_t at = 0;
    std::uint64_t ticket = 0;
    for (std::size_t k = 0; k < pieces; ++k, at += piece)
        ticket = hash_later(*hash, data + at, piece);
    EXPECT_TRUE(wait_hashed(*hash, ticket));
    hash_now(*hash, data + at, bytes.size() - at);
    hash_result result = finish_hashing(*hash);
    EXPECT_EQ(bytes.size(), result.bytes);
    return hex_of(result.digest);
}

TEST(Checksum, KnownAnswersOfEachAlgorithmHoweverTheImageIsCut)
{
    // FIPS 180 and RFC 1321 test vectors.
    struct row {
        digest_algorithm algorithm;
        std::string name;
        std::string abc;    // the digest of "abc"
        std::string empty;  // the digest of nothing
    };
    const std::vector<row> rows = {
        {digest_algorithm::md5, "MD5", "900150983cd24fb0d6963f7d28e17f72",
         "d41d8cd98f00b204e9800998ecf8427e"},
        {digest_algorithm::sha1, "SHA-1", "a9993e364706816aba3e25717850c26c9cd0d89d",
         "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {digest_algorithm::sha224, "SHA-224",
         "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7",
         "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
        {digest_algorithm::sha256, "SHA-256",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {digest_algorithm::sha384, "SHA-384",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358ba"
         "eca134c825a7",
         "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51a"
         "d2f14898b95b"},
        {digest_algorithm::sha512, "SHA-512",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba"
         "3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff83"
         "18d2877eec2f63b931bd47417a81a538327af927da3e"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(r.name, algorithm_name(r.algorithm));
        EXPECT_EQ(r.algorithm, algorithm_of_digits(r.abc.size())) << r.name;
        for (std::size_t pieces : {0, 1, 2})
            EXPECT_EQ(r.abc, hashed(r.algorithm, "abc", pieces)) << r.name << ", " << pieces;
        EXPECT_EQ(r.empty, hashed(r.algorithm, "", 0)) << r.name;
    }
    // A long image in many spans, some of them empty, equals it in one.
    const std::string image = random_bytes(3 * block_size + 1001, 7);
    EXPECT_EQ(hashed(digest_algorithm::sha256, image, 0),
              hashed(digest_algorithm::sha256, image, 40));
}

TEST(Checksum, WhatCouldNotBeReadOrWasStoppedGivesNoDigest)
{
    std::shared_ptr<image_hash> hash = start_image_hash(digest_algorithm::sha256);
    ASSERT_TRUE(hash);
    const unsigned char bytes[4] = {1, 2, 3, 4};
    hash_later(*hash, bytes, 4);
    hash_gap(*hash, 512);
    hash_now(*hash, bytes, 4);
    hash_result result = finish_hashing(*hash);
    EXPECT_EQ("", result.digest);
    EXPECT_EQ(512u, result.unreadable);
    EXPECT_EQ(8u, result.bytes);

    std::shared_ptr<image_hash> stopped = start_image_hash(digest_algorithm::sha256);
    ASSERT_TRUE(stopped);
    stop_hashing(*stopped);
    // Nothing waits for a stopped hash, and it gives no digest.
    EXPECT_FALSE(wait_hashed(*stopped, hash_later(*stopped, bytes, 4)));
    EXPECT_EQ("", finish_hashing(*stopped).digest);
}

TEST(Checksum, LinesOfAList)
{
    const std::string h64 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const std::string H64 = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    const std::string h32 = "900150983cd24fb0d6963f7d28e17f72";
    struct row {
        std::string line;
        std::optional<checksum_entry> entry;
    };
    using a = digest_algorithm;
    const std::vector<row> rows = {
        // As sha256sum writes them, text and binary, in folders, with CRLF.
        {h64 + "  debian.iso", checksum_entry{a::sha256, h64, "debian.iso"}},
        {h64 + " *./images/debian.iso", checksum_entry{a::sha256, h64, "./images/debian.iso"}},
        {H64 + "  a name with  spaces\r", checksum_entry{a::sha256, h64, "a name with  spaces"}},
        {h32 + "  md5.iso", checksum_entry{a::md5, h32, "md5.iso"}},
        {h64 + "\tby-tab.iso", checksum_entry{a::sha256, h64, "by-tab.iso"}},
        // A name with a backslash or a line break is escaped.
        {"\\" + h64 + "  dir\\\\odd\\nname", checksum_entry{a::sha256, h64, "dir\\odd\nname"}},
        // As sha256sum --tag and the BSDs write them.
        {"SHA256 (FreeBSD-14.iso) = " + H64, checksum_entry{a::sha256, h64, "FreeBSD-14.iso"}},
        {"MD5 (x (1).iso) = " + h32 + "\r", checksum_entry{a::md5, h32, "x (1).iso"}},
        {"\\SHA256 (back\\\\slash) = " + h64, checksum_entry{a::sha256, h64, "back\\slash"}},
        // Anything else.
        {"", std::nullopt},
        {"\r", std::nullopt},
        {"# SHA256 checksums of the images", std::nullopt},
        {"-----BEGIN PGP SIGNED MESSAGE-----", std::nullopt},
        {"Hash: SHA256", std::nullopt},
        {"iQIzBAEBCAAdFiEE0123456789abcdef0123456789abcdef0123456789ab", std::nullopt},
        {h64.substr(1) + "  odd.iso", std::nullopt},
        {h64 + "  ", std::nullopt},
        {h64, std::nullopt},
        {"SHA256 (short.iso) = " + h32, std::nullopt},
        {"SHA3-256 (other.iso) = " + h64, std::nullopt},
        {"\\" + h64 + "  bad\\qescape", std::nullopt},
    };
    for (const row& r : rows) {
        std::optional<checksum_entry> entry = parse_checksum_line(r.line);
        ASSERT_EQ(r.entry.has_value(), entry.has_value()) << r.line;
        if (!entry)
            continue;
        EXPECT_EQ(r.entry->algorithm, entry->algorithm) << r.line;
        EXPECT_EQ(r.entry->hex, entry->hex) << r.line;
        EXPECT_EQ(r.entry->name, entry->name) << r.line;
    }
}

TEST(Checksum, TheEntryForTheImage)
{
    const std::string h1(64, '1'), h2(64, '2'), m(32, 'a');
    const std::string list = "# made by hand\r\n" + h1 + "  ./isos/debian.iso\r\n" + h2 +
                             " *netinst.iso\r\n" + "\r\n" + "MD5 (debian.iso) = " + m + "\r\n";
    struct row {
        std::string text;
        std::string image;
        checksum_problem problem;
        std::string hex, name;
    };
    const std::vector<row> rows = {
        {list, "/media/stick/debian.iso", checksum_problem::none, h1, "./isos/debian.iso"},
        {list, "netinst.iso", checksum_problem::none, h2, "netinst.iso"},
        {list, "debian", checksum_problem::no_entry, "", ""},
        {list, "isos/other.iso", checksum_problem::no_entry, "", ""},
        // One entry is used whatever its name.
        {h2 + "  renamed.iso\n", "download.iso", checksum_problem::none, h2, "renamed.iso"},
        // Lines that agree are one entry; lines that differ are trouble.
        {list + h1 + "  debian.iso\n", "debian.iso", checksum_problem::none, h1,
         "./isos/debian.iso"},
        {list + h2 + "  other/debian.iso\n", "debian.iso", checksum_problem::conflicting, "", ""},
        {"# nothing here\n\n", "debian.iso", checksum_problem::list_empty, "", ""},
        {"", "debian.iso", checksum_problem::list_empty, "", ""},
    };
    for (const row& r : rows) {
        checksum_choice choice = entry_for(parse_checksum_list(r.text), "SUMS", r.image);
        EXPECT_EQ(r.problem, choice.problem) << r.image;
        if (r.problem != checksum_problem::none)
            continue;
        EXPECT_EQ(r.hex, choice.expected.hex) << r.image;
        EXPECT_EQ(r.name, choice.expected.name) << r.image;
        EXPECT_EQ("SUMS", choice.expected.list) << r.image;
    }
    // Of several algorithms for one name, the strongest is checked.
    checksum_choice strongest = entry_for(parse_checksum_list(list), "SUMS", "debian.iso");
    EXPECT_EQ(digest_algorithm::sha256, strongest.expected.algorithm);
}

TEST(Checksum, ADigestGiven)
{
    struct row {
        std::string text;
        checksum_problem problem;
        digest_algorithm algorithm;
        std::string hex;
    };
    using a = digest_algorithm;
    const std::vector<row> rows = {
        {std::string(32, 'A'), checksum_problem::none, a::md5, std::string(32, 'a')},
        {std::string(40, '0'), checksum_problem::none, a::sha1, std::string(40, '0')},
        {std::string(56, 'f'), checksum_problem::none, a::sha224, std::string(56, 'f')},
        {" " + std::string(64, 'e') + "\n", checksum_problem::none, a::sha256,
         std::string(64, 'e')},
        {std::string(96, '9'), checksum_problem::none, a::sha384, std::string(96, '9')},
        {std::string(128, 'B'), checksum_problem::none, a::sha512, std::string(128, 'b')},
        {std::string(63, 'e'), checksum_problem::no_such_length, a::sha256, ""},
        {std::string(65, 'e'), checksum_problem::no_such_length, a::sha256, ""},
        {std::string(63, 'e') + "g", checksum_problem::not_hex, a::sha256, ""},
        {"sha256:" + std::string(64, 'e'), checksum_problem::not_hex, a::sha256, ""},
        {"", checksum_problem::not_hex, a::sha256, ""},
    };
    for (const row& r : rows) {
        checksum_choice choice = digest_given(r.text);
        EXPECT_EQ(r.problem, choice.problem) << r.text;
        if (r.problem != checksum_problem::none)
            continue;
        EXPECT_EQ(r.algorithm, choice.expected.algorithm) << r.text;
        EXPECT_EQ(r.hex, choice.expected.hex) << r.text;
        EXPECT_EQ("", choice.expected.list) << r.text;
    }
}

}  // namespace
