#include "container/MwKeyStore.h"

#include <fstream>
#include <mutex>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace container {

namespace {

constexpr std::uintmax_t kMaxKeyFile = 64 * 1024;

enum class Which { Consult, SignaturePublic, SignaturePrivate, List, Count };

struct Store {
  pf::Mutex mutex;
  std::filesystem::path directory PF_GUARDED_BY(mutex);  // empty: the application package
  bool loaded[static_cast<int>(Which::Count)] PF_GUARDED_BY(mutex) = {};
  std::optional<pf::Key> keys[static_cast<int>(Which::Count)] PF_GUARDED_BY(mutex);
};

Store& store() {
  static Store instance;
  return instance;
}

std::optional<pf::Bytes> readKeyFile(const std::filesystem::path& directory, const char* name) {
  std::filesystem::path path;
  if (directory.empty()) {
    auto found = pf::Bundle::main()->pathForResource(name, "der");
    if (!found) return std::nullopt;
    path = *found;
  } else {
    path = directory / (std::string(name) + ".der");
  }
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size == 0 || size > kMaxKeyFile) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  pf::Bytes bytes(size);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) return std::nullopt;
  return bytes;
}

std::optional<pf::Key> publicKey(const pf::Bytes& der) {
  if (auto key = pf::Key::publicKeyFromCertificate(der)) return key;
  return pf::Key::publicKeyFromDer(der);
}

std::optional<pf::Key> load(Which which, const std::filesystem::path& directory) {
  switch (which) {
    case Which::Consult:
      if (auto der = readKeyFile(directory, "mwframework")) return publicKey(*der);
      break;
    case Which::SignaturePublic:
      if (auto der = readKeyFile(directory, "mwframework_sign")) return publicKey(*der);
      break;
    case Which::SignaturePrivate:
      if (auto der = readKeyFile(directory, "mwframework_sign_private")) return pf::Key::privateKeyFromDer(*der);
      break;
    case Which::List:
      if (auto der = readKeyFile(directory, "mwframework_list")) return publicKey(*der);
      break;
    case Which::Count:
      break;
  }
  return std::nullopt;
}

std::optional<pf::Key> get(Which which) {
  auto& s = store();
  pf::MutexLock lock(s.mutex);
  const int i = static_cast<int>(which);
  if (!s.loaded[i]) {
    s.keys[i] = load(which, s.directory);
    s.loaded[i] = true;
  }
  return s.keys[i];
}

}  // namespace

std::optional<pf::Key> MwKeyStore::getConsultPasswordPublicKey() { return get(Which::Consult); }
std::optional<pf::Key> MwKeyStore::getSignaturePublicKey() { return get(Which::SignaturePublic); }
std::optional<pf::Key> MwKeyStore::getSignaturePrivateKey() { return get(Which::SignaturePrivate); }
std::optional<pf::Key> MwKeyStore::getListPublicKey() { return get(Which::List); }

void MwKeyStore::setKeyDirectoryForTesting(const std::filesystem::path& directory) {
  auto& s = store();
  pf::MutexLock lock(s.mutex);
  s.directory = directory;
  for (int i = 0; i < static_cast<int>(Which::Count); ++i) {
    s.loaded[i] = false;
    s.keys[i].reset();
  }
}

}  // namespace container
