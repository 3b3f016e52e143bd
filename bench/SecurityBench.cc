// The security layer against bare OpenSSL EVP in the same run: raw RSA blocks (1024 and 2048
// bits, both key classes; the same OpenSSL calls, so taken in turns and read against 1) and the
// 3DES-CBC + Base64 of a 1 KiB business packet.
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <map>

#include "Ratios.h"
#include "container/MwRSA.h"
#include "platform/foundation/Base64.h"
#include "platform/security/Cipher.h"
#include "platform/security/Key.h"
#include "platform/security/Random.h"

namespace {

const pf::Key& privateKey(int bits) {
  static std::map<int, pf::Key> keys;
  auto it = keys.find(bits);
  if (it == keys.end()) {
    EVP_PKEY* made = EVP_RSA_gen(static_cast<unsigned>(bits));
    it = keys.emplace(bits, *pf::Key::fromNative(made, pf::KeyClass::Private)).first;
    EVP_PKEY_free(made);
  }
  return it->second;
}

pf::Bytes block(int bits) {
  pf::Bytes out = pf::randomBytes(static_cast<std::size_t>(bits / 8));
  out[0] = 0;  // below the modulus
  return out;
}

// Bare EVP: a context made for each block, as the key does.
bool bareEvpRsa(const pf::Key& key, bool usePrivate, const pf::Bytes& in) {
  pf::Bytes out(in.size());
  std::size_t length = out.size();
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key.native(), nullptr);
  int ok = usePrivate ? EVP_PKEY_decrypt_init(ctx) : EVP_PKEY_encrypt_init(ctx);
  ok = ok == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) == 1;
  ok = ok && (usePrivate ? EVP_PKEY_decrypt(ctx, out.data(), &length, in.data(), in.size())
                         : EVP_PKEY_encrypt(ctx, out.data(), &length, in.data(), in.size())) == 1;
  EVP_PKEY_CTX_free(ctx);
  benchmark::DoNotOptimize(out);
  return ok;
}

// args: bits, 0 public / 1 private. Ours and bare EVP make the same OpenSSL calls: each turn
// takes both, who goes first alternating, each a share of about a millisecond of blocks.
void BM_RawRsa_InTurns(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  const bool usePrivate = state.range(1) != 0;
  const pf::Key key = usePrivate ? privateKey(bits) : privateKey(bits).publicKey();
  const pf::Bytes in = block(bits);
  const int blocks = usePrivate ? (bits == 1024 ? 10 : 4) : (bits == 1024 ? 128 : 48);
  const auto share = [&](auto&& one) {
    bool ok = true;
    const double seconds = fxbench::secondsOf([&] {
      for (int i = 0; i < blocks; ++i) ok = one() && ok;
    });
    return ok ? seconds : -1;
  };
  const auto ours = [&] {
    auto out = key.rawRsa(in);
    benchmark::DoNotOptimize(out);
    return out.has_value();
  };
  const auto bare = [&] { return bareEvpRsa(key, usePrivate, in); };
  if (fxbench::Turns("ours", "evp").run(state, [&] { return share(ours); }, [&] { return share(bare); },
                                        "raw RSA failed"))
    state.counters["blocks"] = blocks;
}

// A whole handshake-sized packet through the packet cipher (for scale; no baseline).
void BM_MwRSA_Encrypt1KiB(benchmark::State& state) {
  pf::Key key = privateKey(static_cast<int>(state.range(0))).publicKey();
  pf::Bytes packet(1024, 'x');
  for (auto _ : state) benchmark::DoNotOptimize(container::MwRSA::encrypt(packet, key));
}

// A business packet as the session cipher sees it: 1 KiB of JSON text.
const pf::Bytes& packet() {
  static const pf::Bytes data = [] {
    std::string text = R"({"ACTION":"QUERYRATE","CCYPAIR":"USDCNY","ITEMS":[)";
    while (text.size() < 1000) text += R"({"BID":"7.1234","ASK":"7.1250"},)";
    text.resize(1023);
    return pf::toBytes(text + "}");
  }();
  return data;
}

void BM_DesCbcBase64_Ours(benchmark::State& state) {
  const pf::Bytes key = pf::randomBytes(24), iv = pf::randomBytes(8);
  const pf::CipherSpec suite{pf::CipherAlgorithm::TripleDes, pf::CipherMode::Cbc, pf::CipherPadding::Pkcs7};
  for (auto _ : state) {
    auto cipher = pf::encrypt(suite, key, iv, packet());
    if (!cipher) state.SkipWithError("3DES failed");
    benchmark::DoNotOptimize(pf::base64Encode(*cipher));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet().size()));
}

void BM_DesCbcBase64_BareEvp(benchmark::State& state) {
  const pf::Bytes key = pf::randomBytes(24), iv = pf::randomBytes(8);
  for (auto _ : state) {
    pf::Bytes cipher(packet().size() + 8);
    int produced = 0, last = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    bool ok = EVP_EncryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key.data(), iv.data()) == 1 &&
              EVP_EncryptUpdate(ctx, cipher.data(), &produced, packet().data(), static_cast<int>(packet().size())) == 1 &&
              EVP_EncryptFinal_ex(ctx, cipher.data() + produced, &last) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) state.SkipWithError("EVP failed");
    cipher.resize(static_cast<std::size_t>(produced + last));
    std::string text(4 * ((cipher.size() + 2) / 3) + 1, '\0');
    text.resize(static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), cipher.data(),
                                                         static_cast<int>(cipher.size()))));
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet().size()));
}

}  // namespace

BENCHMARK(BM_DesCbcBase64_BareEvp);
BENCHMARK(BM_DesCbcBase64_Ours);
BENCHMARK(BM_RawRsa_InTurns)
    ->ArgsProduct({{1024, 2048}, {0, 1}})
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MwRSA_Encrypt1KiB)->Arg(1024)->Arg(2048);
FX_BENCH_RATIO("3DES-CBC + Base64 of 1 KiB: ours / bare EVP", fxbench::rate("BM_DesCbcBase64_Ours"),
               fxbench::rate("BM_DesCbcBase64_BareEvp"), fxbench::atLeast(0.9));
FX_BENCH_RATIOS([] {
  for (const char* bits : {"1024", "2048"})
    for (const char* key : {"0", "1"}) {
      const std::string args = std::string(bits) + "/" + key;
      fxbench::addRatio(std::string("raw RSA ") + bits + (key[0] == '1' ? " private" : " public") +
                            ": ours / bare EVP (in turns)",
                        fxbench::counter("BM_RawRsa_InTurns/" + args, "ours_rate_over_evp"), fxbench::one(),
                        fxbench::atLeast(0.9));
    }
  return true;
}());
FX_BENCH_MAIN();
