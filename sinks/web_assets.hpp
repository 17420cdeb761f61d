#pragma once
// The map page's own files (servers/web/), compiled in: nothing of the page is looked for at run
// time but Leaflet, which Debian's package keeps.

#include <string_view>

namespace quorvane {

extern const std::string_view kWebIndexHtml;
extern const std::string_view kWebMapJs;
extern const std::string_view kWebMapCss;

}  // namespace quorvane
