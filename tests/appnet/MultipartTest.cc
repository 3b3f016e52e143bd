// Multipart bodies: exact bytes, reads in small pieces, stated lengths, header safety, and the
// file copy.

#include <gtest/gtest.h>

#include <fstream>

#include "appnet/TnqMultipartFormData.h"
#include "appnet/TnqURLRequestSerialization.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/UrlError.h"
#include "support/TestSupport.h"

using namespace appnet;

namespace {

std::string readAll(TnqMultipartBodyStream& stream, std::size_t chunk, std::ptrdiff_t* last = nullptr) {
  std::string out;
  std::vector<std::uint8_t> buffer(chunk);
  for (;;) {
    std::ptrdiff_t n = stream.read(buffer.data(), buffer.size());
    if (last) *last = n;
    if (n <= 0) break;
    out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
  }
  return out;
}

// A stream handing out `actual` bytes of 'x'.
class CountedStream : public pf::HttpBodyStream {
 public:
  explicit CountedStream(std::size_t actual) : left_(actual) {}
  std::ptrdiff_t read(std::span<std::uint8_t> buffer) override {
    std::size_t n = std::min(left_, buffer.size());
    std::fill_n(buffer.begin(), n, 'x');
    left_ -= n;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::size_t left_;
};

pf::UrlRequest multipart(const std::function<void(TnqMultipartFormData&)>& block, const std::optional<pf::Value>& params,
                         std::optional<pf::Error>* error = nullptr) {
  auto request = TnqHTTPRequestSerializer::serializer()->multipartFormRequestWithMethod(
      "POST", "http://127.0.0.1/upload", params, block, error);
  return request ? *request : pf::UrlRequest();
}

}  // namespace

TEST(Multipart, OneFieldGivesExactlyTheExpectedBytesInAnyReadSize) {
  auto request = multipart(nullptr, pf::Value{{"a", 1}});
  auto stream = std::dynamic_pointer_cast<TnqMultipartBodyStream>(request.httpBodyStream());
  ASSERT_TRUE(stream);
  const std::string contentType = *request.valueForHttpHeaderField("Content-Type");
  ASSERT_EQ(contentType.rfind("multipart/form-data; boundary=Boundary+", 0), 0u);
  const std::string boundary = contentType.substr(contentType.find('=') + 1);
  EXPECT_EQ(boundary.size(), 9u + 16u);
  const std::string expected =
      "--" + boundary + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--" + boundary + "--\r\n";
  EXPECT_EQ(request.valueForHttpHeaderField("Content-Length"), std::to_string(expected.size()));
  auto copy = stream->copy();
  EXPECT_EQ(readAll(*stream, 10), expected);
  EXPECT_EQ(readAll(*copy, 4096), expected);
  // After the end, and once closed, reads answer 0.
  std::uint8_t byte;
  EXPECT_EQ(stream->read(&byte, 1), 0);
  stream->close();
  EXPECT_EQ(stream->read(&byte, 1), 0);
}

TEST(Multipart, PartsFollowEachOtherAndParametersFlattenInOrder) {
  pf::Value params{{"b", pf::Value::array({"x", nullptr})}, {"a", pf::makeData({0, 1, 2})}};
  auto request = multipart(
      [](TnqMultipartFormData& form) { form.appendPartWithFileData(pf::toBytes("DATA"), "f", "a.txt", std::nullopt); },
      params);
  auto stream = std::dynamic_pointer_cast<TnqMultipartBodyStream>(request.httpBodyStream());
  const std::string body = readAll(*stream, 7);
  const std::string b = request.valueForHttpHeaderField("Content-Type")->substr(30);
  const std::string expected =
      "--" + b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" + std::string("\0\1\2", 3) +
      "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"b[]\"\r\n\r\nx" +
      "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"b[]\"\r\n\r\n" +
      "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.txt\"\r\n\r\nDATA" +
      "\r\n--" + b + "--\r\n";
  EXPECT_EQ(body, expected);
  EXPECT_EQ(*request.valueForHttpHeaderField("Content-Length"), std::to_string(expected.size()));

  // No parts: no body, no multipart headers.
  auto empty = multipart(nullptr, std::nullopt);
  EXPECT_FALSE(empty.httpBodyStream());
  EXPECT_FALSE(empty.valueForHttpHeaderField("Content-Type"));
  EXPECT_FALSE(empty.valueForHttpHeaderField("Content-Length"));
}

TEST(Multipart, AStreamOfAnotherLengthThanStatedFailsTheBody) {
  for (std::size_t actual : {5u, 15u}) {
    auto request = multipart(
        [&](TnqMultipartFormData& form) {
          form.appendPartWithInputStream(std::make_shared<CountedStream>(actual), "s", "s.bin", 10, "application/x-test");
        },
        std::nullopt);
    auto stream = std::dynamic_pointer_cast<TnqMultipartBodyStream>(request.httpBodyStream());
    std::ptrdiff_t last = 0;
    readAll(*stream, 3, &last);
    EXPECT_EQ(last, -1) << actual;
    EXPECT_TRUE(stream->streamError()) << actual;
  }
  auto exact = multipart(
      [](TnqMultipartFormData& form) {
        form.appendPartWithInputStream(std::make_shared<CountedStream>(10), "s", "s.bin", 10, std::nullopt);
      },
      std::nullopt);
  auto stream = std::dynamic_pointer_cast<TnqMultipartBodyStream>(exact.httpBodyStream());
  std::ptrdiff_t last = -1;
  const std::string body = readAll(*stream, 3, &last);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(body.size(), stream->contentLength());
  EXPECT_NE(body.find("xxxxxxxxxx\r\n"), std::string::npos);
}

TEST(Multipart, HeaderTextsAreEscapedOrRefused) {
  auto request = multipart(
      [](TnqMultipartFormData& form) { form.appendPartWithFormData(pf::toBytes("v"), "a\"\r\nX-Evil: 1"); }, std::nullopt);
  auto stream = std::dynamic_pointer_cast<TnqMultipartBodyStream>(request.httpBodyStream());
  EXPECT_NE(readAll(*stream, 64).find("name=\"a%22%0D%0AX-Evil: 1\""), std::string::npos);

  std::optional<pf::Error> error;
  auto refused = TnqHTTPRequestSerializer::serializer()->multipartFormRequestWithMethod(
      "POST", "http://127.0.0.1/upload", std::nullopt,
      [](TnqMultipartFormData& form) {
        form.appendPartWithHeaders(pf::HttpHeaders{{"X-A", "1\r\nX-B: 2"}}, pf::toBytes("v"));
      },
      &error);
  EXPECT_FALSE(refused);
  EXPECT_TRUE(error);
}

TEST(Multipart, FilePartsCheckTheirUrlAndTakeTheirTypeFromTheExtension) {
  fxtest::TempDir dir;
  { std::ofstream(dir / "photo.png") << "PNGDATA"; }
  { std::ofstream(dir / "blob.qqq") << "Q"; }
  std::optional<pf::Error> error;
  TnqStreamingMultipartFormData form(pf::UrlRequest(pf::Url::parse("http://127.0.0.1/")), kTnqUTF8StringEncoding);
  EXPECT_FALSE(form.appendPartWithFileURL(*pf::Url::parse("http://127.0.0.1/x.png"), "f", &error));
  EXPECT_EQ(error->code, pf::UrlErrorCode::kBadUrl);
  EXPECT_EQ(error->localizedFailureReason(), "Expected URL to be a file URL");
  EXPECT_FALSE(form.appendPartWithFileURL(pf::Url::fileUrl(dir / "missing.png"), "f", &error));
  EXPECT_EQ(error->localizedFailureReason(), "File URL not reachable.");
  EXPECT_TRUE(form.appendPartWithFileURL(pf::Url::fileUrl(dir / "photo.png"), "f", &error));
  EXPECT_TRUE(form.appendPartWithFileURL(pf::Url::fileUrl(dir / "blob.qqq"), "g", &error));
  auto request = form.requestByFinalizingMultipartFormData();
  const std::string body = readAll(*form.bodyStream(), 5);
  EXPECT_NE(body.find("filename=\"photo.png\"\r\nContent-Type: image/png\r\n\r\nPNGDATA"), std::string::npos);
  EXPECT_NE(body.find("Content-Type: application/octet-stream\r\n\r\nQ"), std::string::npos);
  EXPECT_EQ(*request.valueForHttpHeaderField("Content-Length"), std::to_string(body.size()));
}

TEST(Multipart, WritesTheBodyToAFileAndCallsBackOnTheMainQueue) {
  fxtest::TempDir dir;
  auto serializer = TnqHTTPRequestSerializer::serializer();
  pf::Bytes big(5000, 'z');
  auto request = serializer->multipartFormRequestWithMethod(
      "POST", "http://127.0.0.1/u", std::nullopt,
      [&](TnqMultipartFormData& form) { form.appendPartWithFileData(big, "f", "z.bin", "application/octet-stream"); });
  const std::uint64_t length = std::dynamic_pointer_cast<TnqMultipartBodyStream>(request->httpBodyStream())->contentLength();
  bool called = false;
  std::optional<pf::Error> result;
  auto stripped = serializer->requestWithMultipartFormRequest(*request, dir / "body", [&](std::optional<pf::Error> e) {
    called = true;
    result = e;
  });
  EXPECT_FALSE(stripped.httpBodyStream());
  EXPECT_TRUE(stripped.valueForHttpHeaderField("Content-Length"));
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return called; }));
  EXPECT_FALSE(result);
  EXPECT_EQ(std::filesystem::file_size(dir / "body"), length);

  called = false;
  serializer->requestWithMultipartFormRequest(pf::UrlRequest(pf::Url::parse("http://127.0.0.1/")), dir / "empty",
                                              [&](std::optional<pf::Error> e) { called = true, result = e; });
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return called; }));
  EXPECT_FALSE(result);
  EXPECT_EQ(std::filesystem::file_size(dir / "empty"), 0u);
}
