// The files of the page, compiled into the program from host/web/page/ so
// that nothing is served from disk.
#pragma once

#include <string_view>

struct WebAsset {
    std::string_view path;  // what it is served under: "/app.js"
    std::string_view text;
};

// The file served under `path`; null when there is none.
const WebAsset* findWebAsset(std::string_view path);

// Its media type, from the name's extension.
std::string_view webAssetType(std::string_view path);
