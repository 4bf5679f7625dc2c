// The configuration store reading any application database: plain or in the xenc form (the
// first byte chooses), its default section, application sections and GPU groups, then every
// property read the way the driver reads them.
#include "StoreFuzzSupport.h"
#include "XencCodec.h"

namespace {
Configuration* s_store = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    s_store =
        &fuzz::createStore("<kora><default><all><gpu_count>2</gpu_count></all></default></kora>");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    bool encoded = input.byte() & 1;
    std::string database = input.remaining();
    if (encoded) {
        std::vector<uint8_t> file =
            xenc::encode(reinterpret_cast<const uint8_t*>(database.data()), database.size());
        database.assign(file.begin(), file.end());
    }
    fuzz::replaceFile(vessaconfig::kConfigDirectory, u"vessa.xml", database);
    s_store->reload();
    fuzz::readEveryProperty(*s_store);
    fuzz::keepLogSmall();
    return 0;
}
