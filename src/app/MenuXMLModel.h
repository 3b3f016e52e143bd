#pragma once
// One entry of the update manager's menu file: "id", "url" as "<type>|<path>", "version".

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/BaseModel.h"

namespace container {
class MwXMLElement;
}

namespace app {

class MenuXMLModel : public BaseModelOf<MenuXMLModel> {
 public:
  std::string menuId;     // "id"
  std::string url;        // the part of "url" after the first "|"
  std::string type;       // the part before it ("html" for a page)
  std::string version;    // "version"
  std::string intactUrl;  // the whole "url"

  // Reads {"id", "url", "version"}; type and url are set only when "url" holds a "|".
  void initWithDict(const pf::Value& dictionary) override;
  pf::Value JSONObj() const override;
  std::shared_ptr<BaseModel> copy() const override;
  std::vector<Property> ownProperties() const override;

  static MenuXMLModel fromElement(const container::MwXMLElement& element);
  // Every element child of the text's root element, in file order; empty when the text is not
  // XML with a root element (see MwXMLDocument for its bounds).
  static std::vector<MenuXMLModel> parseMenu(std::string_view text);
};

}  // namespace app
