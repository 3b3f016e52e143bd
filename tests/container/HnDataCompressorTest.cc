#include "container/HnDataCompressor.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "support/TestSupport.h"

using container::HnDataCompressor;

namespace {

pf::Bytes readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return pf::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& path, const pf::Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// Inflates one whole gzip stream with zlib; nullopt unless it ends exactly at the end.
std::optional<pf::Bytes> gunzip(const pf::Bytes& gz) {
  z_stream s{};
  if (inflateInit2(&s, 31) != Z_OK) return std::nullopt;
  pf::Bytes out;
  std::uint8_t buffer[65536];
  s.next_in = const_cast<Bytef*>(gz.data());
  s.avail_in = static_cast<uInt>(gz.size());
  int status = Z_OK;
  while (status == Z_OK) {
    s.next_out = buffer;
    s.avail_out = sizeof buffer;
    status = inflate(&s, Z_NO_FLUSH);
    out.insert(out.end(), buffer, buffer + (sizeof buffer - s.avail_out));
  }
  bool whole = status == Z_STREAM_END && s.avail_in == 0;
  inflateEnd(&s);
  if (!whole) return std::nullopt;
  return out;
}

// Mixed text and noise: compressible, but not to nothing.
pf::Bytes sample(std::size_t size, unsigned seed = 1) {
  std::mt19937 random(seed);
  pf::Bytes out(size);
  for (std::size_t i = 0; i < size; ++i)
    out[i] = (i / 64) % 3 == 0 ? static_cast<std::uint8_t>(random()) : static_cast<std::uint8_t>("fx rates "[i % 9]);
  return out;
}

std::string describe(const pf::Error& error) { return error.localizedDescription(); }

}  // namespace

TEST(HnDataCompressor, CompressDataGivesOneGzipStream) {
  pf::Error error;
  auto gz = HnDataCompressor::compressData(pf::toBytes("abc"), &error);
  ASSERT_TRUE(gz);
  ASSERT_GE(gz->size(), 3u);
  EXPECT_EQ((*gz)[0], 0x1f);
  EXPECT_EQ((*gz)[1], 0x8b);
  EXPECT_EQ((*gz)[2], 8);
  EXPECT_EQ(gunzip(*gz), pf::toBytes("abc"));
  // One byte, and a body far larger than half its size would hold when it does not compress.
  EXPECT_EQ(gunzip(*HnDataCompressor::compressData(pf::Bytes{'x'}, &error)), pf::Bytes{'x'});
  std::mt19937 random(7);
  pf::Bytes noise(100000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  EXPECT_EQ(gunzip(*HnDataCompressor::compressData(noise, &error)), noise);
  // Empty input is no error and gives nothing.
  pf::Error untouched("none", 0);
  EXPECT_EQ(HnDataCompressor::compressData({}, &untouched), std::nullopt);
  EXPECT_EQ(untouched, pf::Error("none", 0));
}

TEST(HnDataCompressor, BlocksJoinIntoOneStream) {
  auto compressor = HnDataCompressor::compressor();
  ASSERT_TRUE(compressor->streamReady());
  pf::Error error;
  // 20 bytes: the first output room (10 bytes) is filled exactly by the gzip header, so zlib
  // answers "no progress possible" on the next round, which is no failure.
  pf::Bytes first = sample(20), second = sample(50000, 2), last = sample(3, 3);
  pf::Bytes joined, expected;
  for (auto* block : {&first, &second, &last}) {
    auto out = compressor->compressBytes(block->data(), block->size(), &error, block == &last);
    ASSERT_TRUE(out) << describe(error);
    joined.insert(joined.end(), out->begin(), out->end());
    expected.insert(expected.end(), block->begin(), block->end());
  }
  EXPECT_EQ(gunzip(joined), expected);
  EXPECT_EQ(compressor->closeStream(), std::nullopt);
  EXPECT_FALSE(compressor->streamReady());
  EXPECT_EQ(compressor->closeStream(), std::nullopt);
  // A closed stream compresses nothing and says why.
  EXPECT_EQ(compressor->compressBytes(first.data(), first.size(), &error, true), std::nullopt);
  EXPECT_EQ(error.domain, "HnHTTPRequestErrorDomain");
  EXPECT_EQ(error.code, 11);
  EXPECT_EQ(describe(error), "Compression of data failed with code -2");
  EXPECT_EQ(compressor->setupStream(), std::nullopt);
  EXPECT_TRUE(compressor->streamReady());
}

TEST(HnDataCompressor, FilesOfEveryAwkwardLength) {
  fxtest::TempDir dir;
  for (std::size_t size : {0u, 1u, 300000u, 262144u, 2u * 262144u}) {
    auto source = dir / "body.bin", destination = dir / "body.gz";
    pf::Bytes data = sample(size, static_cast<unsigned>(size));
    writeFile(source, data);
    pf::Error error;
    ASSERT_TRUE(HnDataCompressor::compressDataFromFile(source, destination, &error)) << describe(error);
    EXPECT_EQ(gunzip(readFile(destination)), data) << size;
  }
  // gzip itself reads our output.
  std::filesystem::remove(dir / "body.bin");
  ASSERT_EQ(fxtest::ChildProcess({"/usr/bin/gzip", "-d", (dir / "body.gz").string()}).wait(20000), 0);
  EXPECT_EQ(readFile(dir / "body"), sample(2 * 262144, 2 * 262144));
}

TEST(HnDataCompressor, ShortReadsAreNotTheEnd) {
  fxtest::TempDir dir;
  auto fifo = dir / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  pf::Bytes data = sample(300000, 9);
  std::thread writer([&] {
    std::ofstream out(fifo, std::ios::binary);
    for (std::size_t at = 0; at < data.size(); at += 1000) {
      out.write(reinterpret_cast<const char*>(data.data() + at), 1000);
      out.flush();
    }
  });
  pf::Error error;
  bool ok = HnDataCompressor::compressDataFromFile(fifo, dir / "out.gz", &error);
  writer.join();
  ASSERT_TRUE(ok) << describe(error);
  EXPECT_EQ(gunzip(readFile(dir / "out.gz")), data);
}

TEST(HnDataCompressor, FileFailures) {
  fxtest::TempDir dir;
  pf::Error error;
  // A missing source leaves the empty destination behind.
  EXPECT_FALSE(HnDataCompressor::compressDataFromFile(dir / "missing", dir / "out.gz", &error));
  EXPECT_EQ(describe(error), "Compression of " + (dir / "missing").string() + " failed the file dose not exist");
  EXPECT_EQ(error.code, 11);
  EXPECT_TRUE(std::filesystem::exists(dir / "out.gz"));
  EXPECT_EQ(std::filesystem::file_size(dir / "out.gz"), 0u);

  writeFile(dir / "body", sample(1000));
  EXPECT_FALSE(HnDataCompressor::compressDataFromFile(dir / "body", dir / "no/folder/out.gz", &error));
  EXPECT_EQ(describe(error), "Compression of " + (dir / "body").string() +
                                    " failed because we were to create a file at " + (dir / "no/folder/out.gz").string());

  // The same file as source and destination is refused before anything is emptied.
  EXPECT_FALSE(HnDataCompressor::compressDataFromFile(dir / "body", dir / "body", &error));
  EXPECT_EQ(error.domain, "HnHTTPRequestErrorDomain");
  EXPECT_EQ(readFile(dir / "body"), sample(1000));

  // A source that cannot be read carries the system's error beneath.
  std::filesystem::create_directory(dir / "folder");
  EXPECT_FALSE(HnDataCompressor::compressDataFromFile(dir / "folder", dir / "out.gz", &error));
  EXPECT_EQ(describe(error), "Compression of " + (dir / "folder").string() +
                                    " failed because we were unable to read from the source data file");
  EXPECT_EQ(error.userInfo[pf::kUnderlyingErrorKey]["domain"], "NSPOSIXErrorDomain");
}
