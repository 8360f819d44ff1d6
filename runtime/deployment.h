#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// Values that depend on where the program is deployed. The built-in defaults point at the
// loopback share service shipped for demos and tests; RunDir + "/pandrel.ini" may override
// each of them (runtime/ui/deployment_loader.h).
struct Deployment {
    Text parseService = "http://127.0.0.1:8580/"; // base URL of the parse service, ends in "/"
    Text shareHost = "pan.example.com";           // domain of the share links
    Text forumPage = "http://127.0.0.1:8580/forum";
    Text sampleShare = "AbCdEfGhIjKlMnOpQrStUvW"; // identifier of the sample listing
    Text sampleCode = "1234";
};

} // namespace pandrel
