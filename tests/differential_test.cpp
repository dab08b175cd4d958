// Every DIFFERENCE line against what GNU cmp -l reports for the same ranges.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct differing_byte {
    std::uint64_t position;  // from the start offsets, counting from 0
    unsigned byte1, byte2;
    bool operator==(const differing_byte& o) const
    {
        return position == o.position && byte1 == o.byte1 && byte2 == o.byte2;
    }
};

std::ostream& operator<<(std::ostream& os, const differing_byte& d)
{
    return os << d.position << ":" << d.byte1 << "/" << d.byte2;
}

std::vector<differing_byte> from_cmp(const std::string& text)
{
    std::vector<differing_byte> bytes;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned long long position;
        unsigned byte1, byte2;
        if (std::sscanf(line.c_str(), "%llu %o %o", &position, &byte1, &byte2) == 3)
            bytes.push_back({position - 1, byte1, byte2});
        else
            ADD_FAILURE() << "cmp said: " << line;
    }
    return bytes;
}

// Reads the DIFFERENCE lines, checking that each one's own fields agree.
std::vector<differing_byte> from_tandemcheck(const std::string& text)
{
    std::vector<differing_byte> bytes;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("DIFFERENCE", 0) != 0)
            continue;
        unsigned long long position, errors, block;
        unsigned byte1, hex1, byte2, hex2;
        int i;
        int fields = std::sscanf(
            line.c_str(),
            "DIFFERENCE count=%llu  file1=%u (0x%x)  file2=%u (0x%x)  errors=%llu i=%d block=%llu",
            &position, &byte1, &hex1, &byte2, &hex2, &errors, &i, &block);
        EXPECT_EQ(8, fields) << line;
        EXPECT_EQ(byte1, hex1) << line;
        EXPECT_EQ(byte2, hex2) << line;
        EXPECT_EQ(bytes.size(), errors) << line;
        EXPECT_EQ(position % block_size, static_cast<unsigned long long>(i)) << line;
        EXPECT_EQ(position / block_size, block) << line;
        bytes.push_back({position, byte1, byte2});
    }
    return bytes;
}

int pair_count()
{
    const char* wanted = std::getenv("TANDEMCHECK_DIFFERENTIAL_PAIRS");
    return wanted ? std::atoi(wanted) : 200;
}

class Differential : public temp_folder_test {};

TEST_F(Differential, AgreesWithCmpOnRandomPairs)
{
    if (!have_program("cmp"))
        GTEST_SKIP() << "cmp is not installed";
    std::mt19937 generator(20261209);
    auto below = [&](std::uint32_t n) { return n ? generator() % n : 0; };
    const int pairs = pair_count();
    int mismatches = 0;
    for (int pair = 0; pair < pairs; ++pair) {
        // Files are read from their medium in aligned requests of 40 blocks:
        // now and then a pair spans several, at offsets off the alignment.
        std::uint64_t offset1 = below(3) ? below(5000) : 0;
        std::uint64_t offset2 = below(3) ? below(5000) : 0;
        const std::uint32_t longest = (pair % 10 == 3 ? 100 : 10) * block_size;
        std::size_t length1 = below(longest);
        std::size_t length2 = below(4) ? length1 : below(longest);
        std::string data1 = random_bytes(offset1 + length1, generator());
        std::string data2 = random_bytes(offset2, generator());
        data2 += data1.substr(offset1, std::min(length1, length2));
        data2 += random_bytes(length2 - std::min(length1, length2), generator());
        // Single bytes, and runs of differing bytes across block borders.
        std::size_t common = std::min(length1, length2);
        for (std::uint32_t n = below(6); common && n > 0; --n)
            data2[offset2 + below(common)] ^= static_cast<char>(1 + below(255));
        for (std::uint32_t n = below(3); common > block_size && n > 0; --n) {
            std::size_t border = block_size * (1 + below(common / block_size));
            std::size_t start = border - std::min<std::size_t>(border, below(300));
            std::size_t end = std::min(common, border + below(300));
            for (std::size_t at = start; at < end; ++at)
                data2[offset2 + at] ^= static_cast<char>(1 + below(255));
        }
        if (pair % 25 == 0 && common > 0)  // now and then, everything differs
            for (std::size_t at = 0; at < common; ++at)
                data2[offset2 + at] = static_cast<char>(~data1[offset1 + at]);

        std::string a = path("a"), b = path("b");
        write_file(a, data1);
        write_file(b, data2);
        process_result ours = run_tandemcheck(
            {"-a", a, "-b", b, "-o", std::to_string(offset1), "-p", std::to_string(offset2)});
        process_result theirs =
            run_program({"/usr/bin/env", "cmp", "-l", "-i",
                         std::to_string(offset1) + ":" + std::to_string(offset2), "-n",
                         std::to_string(common), a, b});
        std::vector<differing_byte> expected = from_cmp(theirs.out);
        std::vector<differing_byte> reported = from_tandemcheck(ours.err);
        // Nothing compared while an input held bytes fails the run.
        const bool nothing_compared = common == 0 && length1 + length2 > 0;
        std::set<std::uint64_t> blocks;
        for (const differing_byte& d : expected)
            blocks.insert(d.position / block_size);
        std::string label = "pair " + std::to_string(pair) + ": lengths " +
                            std::to_string(length1) + "/" + std::to_string(length2) + ", offsets " +
                            std::to_string(offset1) + "/" + std::to_string(offset2);
        bool same = expected == reported &&
                    ours.err.find("\n\nReady, " + std::to_string(common) + " bytes read, " +
                                  std::to_string(expected.size()) + " errors found, " +
                                  std::to_string(blocks.size()) + " defective blocks\n") !=
                        std::string::npos &&
                    ours.status == (expected.empty() && !nothing_compared ? 0 : 1);
        if (!same) {
            ++mismatches;
            EXPECT_EQ(expected, reported) << label;
            EXPECT_EQ(expected.empty() && !nothing_compared ? 0 : 1, ours.status) << label;
            ADD_FAILURE() << label << "\n"
                          << ours.err.substr(ours.err.size() > 300 ? ours.err.size() - 300 : 0);
        }
        if (mismatches > 3)
            break;
    }
    std::printf("differential: %d pairs, %d mismatches\n", pairs, mismatches);
    EXPECT_EQ(0, mismatches);
}

}  // namespace

namespace {

// Each sum tool, and the name -s writes for its algorithm.
struct sum_tool {
    std::string program;
    std::string algorithm;
};

TEST_F(Differential, TheImagesChecksumAgreesWithTheSumTools)
{
    const std::vector<sum_tool> tools = {{"md5sum", "MD5"},
                                         {"sha1sum", "SHA-1"},
                                         {"sha256sum", "SHA-256"},
                                         {"sha512sum", "SHA-512"}};
    std::mt19937 generator(20261210);
    // Lengths from the start offset: none, a byte, a block less one, a
    // partial last block, and past the first large request of 40 blocks.
    const std::vector<std::size_t> lengths = {0, 1, block_size - 1, 3 * block_size + 777,
                                              41 * block_size + 5};
    for (const sum_tool& tool : tools) {
        if (!have_program(tool.program))
            GTEST_SKIP() << tool.program << " is not installed";
        for (std::size_t k = 0; k < lengths.size(); ++k) {
            const std::size_t length = lengths[k];
            const std::uint64_t offset1 = 2 * (generator() % 3000) + 1;
            const std::uint64_t offset2 = generator() % 3000;
            const std::string image = random_bytes(offset1 + length, generator());
            // Now and then the copy ends first: the rest of the image is hashed all the same.
            const std::size_t copied = k % 2 == 1 ? length - length / 3 : length;
            write_file(path("image"), image);
            write_file(path("copy"),
                       random_bytes(offset2, generator()) + image.substr(offset1, copied));
            write_file(path("part"), image.substr(offset1));
            process_result sum = run_program({"/usr/bin/env", tool.program, path("part")});
            const std::string hex = sum.out.substr(0, sum.out.find(' '));
            // A digest given, and the tool's own list, whose one line names another file.
            write_file(path("SUMS"), sum.out);
            const std::string label = tool.program + ", length " + std::to_string(length);
            for (const std::string& given : {hex, path("SUMS")}) {
                process_result ours =
                    run_tandemcheck({"-a", path("image"), "-o", std::to_string(offset1), "-b",
                                     path("copy"), "-p", std::to_string(offset2), "-s", given});
                const std::string said =
                    "tandemcheck(): file 1 " + tool.algorithm + " " + hex + ": as given" +
                    (given == hex ? "" : " for " + path("part") + " in " + given) +
                    "\n\n\nReady, " + std::to_string(copied) + " bytes";
                EXPECT_NE(std::string::npos, ours.err.find(said)) << label << "\n" << ours.err;
                EXPECT_EQ(0, ours.status) << label;
            }
        }
    }
}

}  // namespace
