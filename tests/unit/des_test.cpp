#include "codec/des.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <random>
#include <string>

namespace {

using Block = std::array<uint8_t, 8>;

Block FromHex(const std::string& hex) {
    Block block{};
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    return block;
}

Block Encipher(const Block& key, const Block& input) {
    qarn::CDes des;
    des.SetKey(key.data());
    Block output{};
    des.Encipher(input.data(), output.data());
    return output;
}

TEST(Des, KnownAnswers) {
    // Classic worked example, the variable-plaintext and variable-key sets under the
    // all-parity key, and further published validation pairs.
    const char* cases[][3] = {
        {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
        {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
        {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
        {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
        {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
        {"0101010101010101", "1000000000000000", "4BD388FF6CD81D4F"},
        {"0101010101010101", "0800000000000000", "20B9E767B2FB1456"},
        {"0101010101010101", "0400000000000000", "55579380D77138EF"},
        {"0101010101010101", "0200000000000000", "6CC5DEFAAF04512F"},
        {"0101010101010101", "0100000000000000", "0D9F279BA5D87260"},
        {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
        {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
        {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
        {"2001010101010101", "0000000000000000", "7AD16FFB79C45926"},
        {"1001010101010101", "0000000000000000", "D3746294CA6A6CF3"},
        {"0801010101010101", "0000000000000000", "809F5F873C1FD761"},
        {"0401010101010101", "0000000000000000", "C02FAFFEC989D1FC"},
        {"0201010101010101", "0000000000000000", "4615AA1D33E72F10"},
        {"0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "7359B2163E4EDC58"},
        {"3000000000000000", "1000000000000001", "958E6E627A05557B"},
        {"1111111111111111", "1111111111111111", "F40379AB9E0EC533"},
        {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
        {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Encipher(FromHex(c[0]), FromHex(c[1])), FromHex(c[2])) << c[0] << " " << c[1];
}

TEST(Des, ParityBitsInPlaceAndEqualBlocks) {
    Block key = FromHex("133457799BBCDFF1");
    Block flipped = key;
    for (auto& byte : flipped)
        byte ^= 1;
    Block plain = FromHex("0123456789ABCDEF");
    EXPECT_EQ(Encipher(flipped, plain), Encipher(key, plain));

    qarn::CDes des;
    des.SetKey(key.data());
    uint8_t data[16];
    std::memcpy(data, plain.data(), 8);
    std::memcpy(data + 8, plain.data(), 8);
    des.Encipher(data, data);
    des.Encipher(data + 8, data + 8);
    Block expected = FromHex("85E813540F0AB405");
    EXPECT_EQ(0, std::memcmp(data, expected.data(), 8));
    EXPECT_EQ(0, std::memcmp(data + 8, expected.data(), 8));
}

TEST(Des, WeakKeysAndComplementation) {
    std::mt19937 random(7);
    for (const char* weak :
         {"0101010101010101", "FEFEFEFEFEFEFEFE", "E0E0E0E0F1F1F1F1", "1F1F1F1F0E0E0E0E"}) {
        Block plain{};
        for (auto& byte : plain)
            byte = static_cast<uint8_t>(random());
        EXPECT_EQ(Encipher(FromHex(weak), Encipher(FromHex(weak), plain)), plain) << weak;
    }
    for (int i = 0; i < 50; ++i) {
        Block key{}, plain{};
        for (auto& byte : key)
            byte = static_cast<uint8_t>(random());
        for (auto& byte : plain)
            byte = static_cast<uint8_t>(random());
        Block cipher = Encipher(key, plain);
        for (auto& byte : key)
            byte = ~byte;
        for (auto& byte : plain)
            byte = ~byte;
        for (auto& byte : cipher)
            byte = ~byte;
        EXPECT_EQ(Encipher(key, plain), cipher);
    }
}

// The library behind the openssl command, loaded at run time: one process can encipher under
// thousands of keys, where starting the command once per key would take many seconds.
class Libcrypto {
  public:
    Libcrypto() {
        handle_ = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) return;
        auto load = reinterpret_cast<void* (*)(void*, const char*)>(Symbol("OSSL_PROVIDER_load"));
        auto fetch = reinterpret_cast<void* (*)(void*, const char*, const char*)>(
            Symbol("EVP_CIPHER_fetch"));
        newContext_ = reinterpret_cast<void* (*)()>(Symbol("EVP_CIPHER_CTX_new"));
        freeContext_ = reinterpret_cast<void (*)(void*)>(Symbol("EVP_CIPHER_CTX_free"));
        init_ = reinterpret_cast<Init>(Symbol("EVP_EncryptInit_ex"));
        padding_ = reinterpret_cast<int (*)(void*, int)>(Symbol("EVP_CIPHER_CTX_set_padding"));
        update_ = reinterpret_cast<Update>(Symbol("EVP_EncryptUpdate"));
        if (!load || !fetch || !newContext_ || !freeContext_ || !init_ || !padding_ || !update_)
            return;
        if (load(nullptr, "legacy") && load(nullptr, "default"))
            cipher_ = fetch(nullptr, "DES-ECB", nullptr);
    }
    bool Ready() const { return cipher_ != nullptr; }

    bool Encipher(const Block& key, const Block& input, Block& output) const {
        void* context = newContext_();
        int length = 0;
        bool done = context && init_(context, cipher_, nullptr, key.data(), nullptr) == 1 &&
                    padding_(context, 0) == 1 &&
                    update_(context, output.data(), &length, input.data(), 8) == 1 && length == 8;
        freeContext_(context);
        return done;
    }

  private:
    using Init = int (*)(void*, const void*, void*, const uint8_t*, const uint8_t*);
    using Update = int (*)(void*, uint8_t*, int*, const uint8_t*, int);
    void* Symbol(const char* name) { return dlsym(handle_, name); }

    void* handle_ = nullptr;
    void* cipher_ = nullptr;
    void* (*newContext_)() = nullptr;
    void (*freeContext_)(void*) = nullptr;
    Init init_ = nullptr;
    int (*padding_)(void*, int) = nullptr;
    Update update_ = nullptr;
};

TEST(Des, AgreesWithOpensslOnRandomKeysAndBlocks) {
    static Libcrypto openssl;
    if (!openssl.Ready()) GTEST_SKIP() << "libcrypto.so.3 with its legacy provider is absent";
    std::mt19937 random(2024);
    for (int i = 0; i < 2000; ++i) {
        Block key{}, plain{}, expected{};
        for (auto& byte : key)
            byte = static_cast<uint8_t>(random());
        for (auto& byte : plain)
            byte = static_cast<uint8_t>(random());
        ASSERT_TRUE(openssl.Encipher(key, plain, expected));
        ASSERT_EQ(Encipher(key, plain), expected) << "pair " << i;
    }
}

} // namespace
