// A server's answer through the REST API layer: bytes into an answer record and through the
// three managers' answer checks. Never a crash; the record keeps the bytes, and content is only
// ever a dictionary or an array.
#include <cstdint>
#include <cstdlib>

#include "app/TnqApiManagers.h"
#include "app/TnqURLResponse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto login = app::TnqLoginManager::make();
  static auto token = app::TnqTokenManager::make();
  static auto push = app::TnqPushTypeManager::make();
  pf::Bytes bytes(data, data + size);
  auto response = app::TnqURLResponse::initWithData(bytes);
  if (!response->responseData || *response->responseData != bytes) std::abort();
  if (response->content && !response->content->is_object() && !response->content->is_array()) std::abort();
  if (!response->contentString.empty() && response->contentString != pf::toString(bytes)) std::abort();
  std::optional<pf::Value> answer = response->content ? response->content : pf::makeData(bytes);
  const bool accepted = login->managerIsCorrectWithCallBackData(*login, answer);
  if (token->managerIsCorrectWithCallBackData(*token, answer) != accepted) std::abort();
  if (push->managerIsCorrectWithCallBackData(*push, answer) != accepted) std::abort();
  if (accepted && !(response->content && response->content->is_object())) std::abort();
  return 0;
}
