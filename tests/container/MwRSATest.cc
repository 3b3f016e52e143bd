#include "container/MwRSA.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/TestSupport.h"

using container::MwRSA;

namespace {

pf::Bytes readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return pf::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& path, const pf::Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

int run(std::vector<std::string> argv) {
  fxtest::ChildProcess child(std::move(argv));
  while (child.readLine(20000)) {
  }
  return child.wait(20000);
}

// A key pair made by the openssl command, once per process.
struct KeyPair {
  fxtest::TempDir dir;
  std::string privatePem, publicPem;
  pf::Key privateKey, publicKey;

  static const KeyPair& bits(int bits) {
    static const KeyPair k1024(1024), k2048(2048);
    return bits == 1024 ? k1024 : k2048;
  }

 private:
  explicit KeyPair(int bits)
      : privatePem((dir / "key.pem").string()),
        publicPem((dir / "pub.pem").string()),
        privateKey(make(bits, false)),
        publicKey(make(bits, true)) {}

  pf::Key make(int bits, bool wantPublic) {
    if (!std::filesystem::exists(privatePem)) {
      run({"/usr/bin/openssl", "genpkey", "-quiet", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:" + std::to_string(bits),
           "-out", privatePem});
      run({"/usr/bin/openssl", "pkey", "-in", privatePem, "-pubout", "-out", publicPem});
    }
    auto pem = pf::toString(readFile(wantPublic ? publicPem : privatePem));
    auto key = wantPublic ? pf::Key::publicKeyFromPem(pem) : pf::Key::privateKeyFromPem(pem);
    if (!key) throw std::runtime_error("openssl genpkey failed");
    return *key;
  }
};

pf::Bytes text(std::size_t length) {
  pf::Bytes out(length);
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>('a' + i % 26);
  return out;
}

}  // namespace

TEST(MwRSA, ChunksOfTwelveBytesLessThanTheBlock) {
  const auto& keys = KeyPair::bits(1024);
  for (auto [plain, cipher] : {std::pair{116u, 128u}, {117u, 256u}, {232u, 256u}, {1u, 128u}, {233u, 384u}}) {
    auto encrypted = MwRSA::encrypt(text(plain), keys.publicKey);
    ASSERT_TRUE(encrypted) << plain;
    EXPECT_EQ(encrypted->size(), cipher) << plain;
    EXPECT_EQ(MwRSA::decrypt(*encrypted, keys.privateKey), text(plain)) << plain;
  }
  const auto& big = KeyPair::bits(2048);
  auto encrypted = MwRSA::encrypt(text(245), big.publicKey);  // chunks of 244
  ASSERT_TRUE(encrypted);
  EXPECT_EQ(encrypted->size(), 512u);
  EXPECT_EQ(MwRSA::decrypt(*encrypted, big.privateKey), text(245));
}

TEST(MwRSA, SignatureDirectionPrivateThenPublic) {
  const auto& keys = KeyPair::bits(1024);
  auto signature = MwRSA::encrypt(text(300), keys.privateKey);
  ASSERT_TRUE(signature);
  EXPECT_EQ(MwRSA::decrypt(*signature, keys.publicKey), text(300));
}

TEST(MwRSA, DecryptTakesAShortLastBlockAsItIsAndRefusesBadBlocks) {
  const auto& keys = KeyPair::bits(1024);
  auto encrypted = *MwRSA::encrypt(text(100), keys.publicKey);
  pf::Bytes tail(72, 0x11);
  pf::Bytes data = encrypted;
  data.insert(data.end(), tail.begin(), tail.end());
  auto plain = MwRSA::decrypt(data, keys.privateKey);
  ASSERT_TRUE(plain);
  auto tailPlain = *keys.privateKey.rawRsa(tail);
  pf::Bytes expected = text(100);
  auto nonZero = std::find_if(tailPlain.begin(), tailPlain.end(), [](auto b) { return b != 0; });
  expected.insert(expected.end(), nonZero, tailPlain.end());
  EXPECT_EQ(*plain, expected);

  // A block not below the modulus spoils the whole answer.
  pf::Bytes spoiled = encrypted;
  spoiled.insert(spoiled.end(), 128, 0xff);
  EXPECT_EQ(MwRSA::decrypt(spoiled, keys.privateKey), std::nullopt);
  EXPECT_EQ(MwRSA::encrypt({}, keys.publicKey), std::nullopt);
  EXPECT_EQ(MwRSA::decrypt({}, keys.privateKey), std::nullopt);
  EXPECT_EQ(MwRSA::encrypt(text(5), std::nullopt), std::nullopt);
  EXPECT_EQ(MwRSA::decrypt(encrypted, std::nullopt), std::nullopt);
}

TEST(MwRSA, BlocksMeetTheOpensslCommand) {
  const auto& keys = KeyPair::bits(1024);
  fxtest::TempDir dir;
  auto rawRsa = [&](const std::vector<std::string>& mode, const pf::Bytes& in) {
    writeFile(dir / "in.bin", in);
    std::vector<std::string> argv{"/usr/bin/openssl", "pkeyutl", "-pkeyopt", "rsa_padding_mode:none",
                                  "-in", (dir / "in.bin").string(), "-out", (dir / "out.bin").string()};
    argv.insert(argv.end(), mode.begin(), mode.end());
    EXPECT_EQ(run(argv), 0);
    return readFile(dir / "out.bin");
  };
  // The handshake request: ours under the public key, read by the holder of the private key.
  auto request = text(200);
  auto encrypted = *MwRSA::encrypt(request, keys.publicKey);
  pf::Bytes read;
  for (std::size_t at = 0; at < encrypted.size(); at += 128) {
    auto block = rawRsa({"-decrypt", "-inkey", keys.privatePem},
                        pf::Bytes(encrypted.begin() + static_cast<long>(at), encrypted.begin() + static_cast<long>(at) + 128));
    read.insert(read.end(), std::find_if(block.begin(), block.end(), [](auto b) { return b != 0; }), block.end());
  }
  EXPECT_EQ(read, request);
  // The answer: chunks under the private exponent, made by theirs, read by ours with the public key.
  auto answer = pf::toBytes(R"({"RETCODE":"AAAAAAA","UUIDKEY":"0123456789abcdef0123456789abcdef","SYSPARAM":{}})");
  pf::Bytes cipher;
  for (std::size_t at = 0; at < answer.size(); at += 116) {
    pf::Bytes chunk(128 - std::min<std::size_t>(116, answer.size() - at), 0);
    chunk.insert(chunk.end(), answer.begin() + static_cast<long>(at),
                 answer.begin() + static_cast<long>(std::min(answer.size(), at + 116)));
    auto block = rawRsa({"-decrypt", "-inkey", keys.privatePem}, chunk);
    cipher.insert(cipher.end(), block.begin(), block.end());
  }
  EXPECT_EQ(MwRSA::decrypt(cipher, keys.publicKey), answer);
}

TEST(MwRSA, FileForms) {
  const auto& keys = KeyPair::bits(1024);
  fxtest::TempDir dir;
  auto path = (dir / "secret.bin").string();
  ASSERT_TRUE(MwRSA::encryptWriteFile(path, text(150), keys.publicKey));
  EXPECT_EQ(readFile(path).size(), 256u);
  EXPECT_EQ(MwRSA::decryptReadFile(path, keys.privateKey), text(150));
  // A failing encryption keeps the old file.
  EXPECT_FALSE(MwRSA::encryptWriteFile(path, text(150), std::nullopt));
  EXPECT_FALSE(MwRSA::encryptWriteFile(path, {}, keys.publicKey));
  EXPECT_EQ(MwRSA::decryptReadFile(path, keys.privateKey), text(150));
  // Replacing leaves no temporary file behind.
  ASSERT_TRUE(MwRSA::encryptWriteFile(path, text(10), keys.publicKey));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
  EXPECT_EQ(MwRSA::decryptReadFile((dir / "missing.bin").string(), keys.privateKey), std::nullopt);
  EXPECT_EQ(MwRSA::decryptReadFile((dir / "missing.bin").string(), std::nullopt), std::nullopt);
  EXPECT_FALSE(MwRSA::encryptWriteFile((dir / "no/such/folder/x").string(), text(3), keys.publicKey));
}
