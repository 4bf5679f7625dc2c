// DdiObject: construction, serial numbers, attachments and the overridable defaults.
#include "DdiObject.h"

#include "Report.h"

#include <atomic>

namespace {
// Process-wide serial number across all kinds; the first object gets 1.
std::atomic<uint64_t> s_nextSerialNumber{1};
} // namespace

DdiObject::DdiObject(uint32_t kind)
    : m_marker(kMarker), m_reserved0(0), m_kind(kind),
      m_serialNumber(s_nextSerialNumber.fetch_add(1)), m_pAttachment(nullptr), m_reserved1(0) {
    for (unsigned i = 0; i < kGpuSlots; ++i)
        m_views[i] = DdiObjectView{this, i};
}

DdiObject::~DdiObject() {
    delete m_pAttachment;
    m_pAttachment = nullptr;
}

DdiObjectView* DdiObject::view(unsigned index) {
    if (!VESSA_CHECK(Warning, 0, index < kGpuSlots, "get view: index %u out of range", index))
        return nullptr;
    return &m_views[index];
}

void DdiObject::setAttachment(DdiAttachment* attachment) {
    if (m_pAttachment != attachment)
        delete m_pAttachment;
    m_pAttachment = attachment;
}

uint64_t DdiObject::requiredOperation() {
    VESSA_REPORT_AT(74, Error, 10323, "false", "this function is empty, should not get here");
    return 0;
}

uint32_t DdiObject::surfaceWidth(unsigned) {
    return 0;
}
uint32_t DdiObject::surfaceHeight(unsigned) {
    return 0;
}
uint32_t DdiObject::surfaceDepth(unsigned) {
    return 0;
}
uint32_t DdiObject::multisampleType() {
    return 0;
}
uint32_t DdiObject::multisampleQuality() {
    return 0;
}
uint32_t DdiObject::bitsPerPixel() {
    return 0;
}
uint32_t DdiObject::format() {
    return 0;
}
uint64_t DdiObject::reservedQuery() {
    return 0;
}
bool DdiObject::isInteropReady() {
    return false;
}
void* DdiObject::kernelCallThroughTable() {
    return nullptr;
}
void* DdiObject::gpuServices() {
    return nullptr;
}
uint32_t DdiObject::interopGroupId() {
    return 0xFFFFFFFFu;
}
void DdiObject::setContext(unsigned, uint64_t) {}
bool DdiObject::canTransfer() {
    return true;
}
bool DdiObject::canPresent() {
    return true;
}
