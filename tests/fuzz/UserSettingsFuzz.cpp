// The user settings file as a user may leave it: any bytes, read at a configuration load
// and translated into the icon and pacing settings.
#include "StoreFuzzSupport.h"

namespace {
Configuration* s_store = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    s_store = &fuzz::createStore(fuzz::sampleFile("vessa.xml"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    fuzz::replaceFile(vessaconfig::kUserFolder, u"userSettings.xml", input.remaining());
    s_store->reload();
    fuzz::readEveryProperty(*s_store);
    fuzz::keepLogSmall();
    return 0;
}
