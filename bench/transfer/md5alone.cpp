// MD5 over a file already in memory, in the agent's 1 MiB blocks on one thread:
// the most the agent's hashing thread can keep up with.
//   md5-alone FILE

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> content((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    constexpr std::size_t BlockSize = std::size_t{1} << 20;

    const auto start = std::chrono::steady_clock::now();
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_md5(), nullptr);
    for (std::size_t offset = 0; offset < content.size(); offset += BlockSize)
        EVP_DigestUpdate(context, content.data() + offset,
                         std::min(BlockSize, content.size() - offset));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    EVP_MD_CTX_free(context);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;

    std::printf("wall=%.4f md5=", wall.count());
    for (unsigned int i = 0; i < length; ++i)
        std::printf("%02x", digest[i]);
    std::printf("\n");
    return 0;
}
