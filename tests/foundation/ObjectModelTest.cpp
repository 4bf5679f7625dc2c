// The per-GPU object model: masks, handle slots and their Warnings, serial numbers, views.
#include "DdiObjHandle.h"
#include "DdiObject.h"
#include "LogReader.h"
#include "Object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testlog::afterPrefix;
using testlog::logLines;

namespace {

class ObjectMask : public EmptyLogTest {};
class DdiHandles : public EmptyLogTest {};
class DdiObjectBase : public EmptyLogTest {};

// A concrete object of each kind, as the adapter, device and resource are.
class TestObject : public DdiObject {
public:
    explicit TestObject(uint32_t kind) : DdiObject(kind) {}
};

class CountingAttachment : public DdiAttachment {
public:
    explicit CountingAttachment(int* destroyed) : m_pDestroyed(destroyed) {}
    ~CountingAttachment() override { ++*m_pDestroyed; }

private:
    int* m_pDestroyed;
};

// The two lines of the only report in the log: the code line and the condition line.
struct ReportLines {
    std::string codeLine;
    std::string conditionLine;
};

ReportLines onlyReport() {
    std::vector<std::string> lines = logLines();
    EXPECT_EQ(lines.size(), 2u);
    if (lines.size() != 2)
        return {};
    return {lines[0], lines[1]};
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST_F(ObjectMask, SetNonZeroFillsSlotAndZeroEmptiesIt) {
    Object<uint64_t> slots;
    slots.set(1, 0x1234);
    EXPECT_EQ(slots.mask(), 0x2u);
    EXPECT_EQ(slots.get(1), 0x1234u);
    slots.set(1, 0);
    EXPECT_EQ(slots.mask(), 0u);
    EXPECT_EQ(testlog::readLog(), ""); // no report so far
}

TEST_F(ObjectMask, GetOfEmptySlotReportsWarningAndReadsZero) {
    Object<uint64_t> slots;
    slots.set(1, 7);
    slots.set(1, 0);
    EXPECT_EQ(slots.get(1), 0u);

    ReportLines report = onlyReport();
    EXPECT_TRUE(endsWith(report.codeLine, ", Object.h:129 - Warning code: 0\r\n"))
        << report.codeLine;
    EXPECT_EQ(afterPrefix(report.conditionLine),
              "Condition: m_mask & (0x00000001 << index), get object: index out of mask\r\r\n");
}

TEST_F(ObjectMask, IndexBeyondFourSlotsIsReportedNotWritten) {
    Object<uint32_t> slots;
    slots.set(4, 9);
    EXPECT_EQ(slots.mask(), 0u);
    EXPECT_EQ(slots.get(7), 0u);
    EXPECT_EQ(logLines().size(), 4u);
}

TEST_F(DdiHandles, RuntimeHandleOfAuxiliaryGpuIsReportedAndStoredAnyway) {
    DdiObjHandle handles;
    handles.setRuntimeHandle(0xAA, 1);
    EXPECT_EQ(handles.mask(), 0x2u);
    ReportLines report = onlyReport();
    EXPECT_TRUE(endsWith(report.codeLine, "DdiObjHandle.h:172 - Warning code: 1071\r\n"));
    EXPECT_EQ(
        afterPrefix(report.conditionLine),
        "Condition: 0 == index, Runtime handles should be stored for primary GPU only.\r\r\n");
}

TEST_F(DdiHandles, KernelHandleSetOnGpuZeroReportsWarning1069) {
    DdiObjHandle handles;
    handles.setKernelHandle(0, 0x40000001);
    ReportLines report = onlyReport();
    EXPECT_TRUE(endsWith(report.codeLine, "DdiObjHandle.h:155 - Warning code: 1069\r\n"));
    EXPECT_EQ(
        afterPrefix(report.conditionLine),
        "Condition: 0 != index, Kernel handles should be stored for auxiliary GPU only.\r\r\n");
}

TEST_F(DdiHandles, KernelHandleOfGpuZeroReportsWarning1070AndReturnsRuntimeHandle) {
    DdiObjHandle handles;
    handles.setRuntimeHandle(0x5150);
    handles.setKernelHandle(1, 0x40000002);
    EXPECT_EQ(handles.getKernelHandle(1), 0x40000002u);
    EXPECT_EQ(testlog::readLog(), "");

    EXPECT_EQ(handles.getKernelHandle(0), 0x5150u);
    ReportLines report = onlyReport();
    EXPECT_TRUE(endsWith(report.codeLine, "DdiObjHandle.h:161 - Warning code: 1070\r\n"));
    EXPECT_EQ(
        afterPrefix(report.conditionLine),
        "Condition: 0 != index, Kernel handles should be stored for auxiliary GPU only.\r\r\n");
}

TEST_F(DdiHandles, EmptyKernelSlotReportsBothWarnings) {
    DdiObjHandle handles;
    EXPECT_EQ(handles.getKernelHandle(2), 0u);
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(endsWith(lines[0], "Object.h:129 - Warning code: 0\r\n"));
}

TEST_F(DdiObjectBase, ConstructionSetsMarkerKindAndIncreasingSerialsAcrossKinds) {
    TestObject adapter(kDdiObjectAdapter);
    TestObject device(kDdiObjectDevice);
    TestObject resource(kDdiObjectResource);
    EXPECT_EQ(adapter.marker(), 0xEDCBA000u);
    EXPECT_EQ(device.kind(), 2u);
    EXPECT_EQ(resource.kind(), 3u);
    EXPECT_EQ(device.serialNumber(), adapter.serialNumber() + 1);
    EXPECT_EQ(resource.serialNumber(), device.serialNumber() + 1);
    EXPECT_EQ(adapter.userHandles().mask(), 0u);
    EXPECT_EQ(adapter.ddiHandles().mask(), 0u);
    EXPECT_EQ(adapter.attachment(), nullptr);
}

TEST_F(DdiObjectBase, ViewsAreDistinctAndLeadBackToOwnerAndGpu) {
    TestObject first(kDdiObjectDevice);
    TestObject second(kDdiObjectDevice);
    EXPECT_NE(first.view(1), second.view(1));
    EXPECT_NE(first.view(0), first.view(1));

    void* handleForDriver = first.view(1);
    DdiObjectView* view = DdiObject::viewFromHandle(handleForDriver);
    EXPECT_EQ(view->owner, &first);
    EXPECT_EQ(view->gpuIndex, 1u);
    EXPECT_EQ(first.view(3)->gpuIndex, 3u);
    EXPECT_EQ(testlog::readLog(), "");
}

TEST_F(DdiObjectBase, ViewBeyondTheFourGpusIsReportedAndNotAnotherGpusView) {
    TestObject device(kDdiObjectDevice);
    EXPECT_EQ(device.view(4), nullptr);
    ReportLines report = onlyReport();
    EXPECT_TRUE(endsWith(report.codeLine, " - Warning code: 0\r\n"));
    EXPECT_EQ(afterPrefix(report.conditionLine),
              "Condition: index < kGpuSlots, get view: index 4 out of range\r\r\n");
}

TEST_F(DdiObjectBase, UserHandlesAndVendorsArePerGpu) {
    TestObject adapter(kDdiObjectAdapter);
    adapter.setUserHandle(0, 0x100);
    adapter.setUserHandle(1, 0x200);
    adapter.setVendor(0, 3);
    adapter.setVendor(1, 1);
    EXPECT_EQ(adapter.getUserHandle(1), 0x200u);
    EXPECT_EQ(adapter.getVendor(0), 3u);
    EXPECT_EQ(adapter.userHandles().mask(), 0x3u);
}

TEST_F(DdiObjectBase, AttachmentIsDestroyedWithTheObject) {
    int destroyed = 0;
    {
        TestObject resource(kDdiObjectResource);
        resource.setAttachment(new CountingAttachment(&destroyed));
        resource.setAttachment(new CountingAttachment(&destroyed)); // replaces the first
        EXPECT_EQ(destroyed, 1);
    }
    EXPECT_EQ(destroyed, 2);
}

TEST_F(DdiObjectBase, SettingTheSameAttachmentAgainKeepsIt) {
    int destroyed = 0;
    {
        TestObject resource(kDdiObjectResource);
        CountingAttachment* attachment = new CountingAttachment(&destroyed);
        resource.setAttachment(attachment);
        resource.setAttachment(attachment);
        EXPECT_EQ(destroyed, 0);
        EXPECT_EQ(resource.attachment(), attachment);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST_F(DdiObjectBase, DefaultsOfOverridableOperations) {
    TestObject object(kDdiObjectResource);
    EXPECT_EQ(object.surfaceWidth(0), 0u);
    EXPECT_FALSE(object.isInteropReady());
    EXPECT_EQ(object.interopGroupId(), 0xFFFFFFFFu);
    EXPECT_TRUE(object.canPresent());
    EXPECT_EQ(testlog::readLog(), "");

    EXPECT_EQ(object.requiredOperation(), 0u);
    ReportLines report = onlyReport();
    EXPECT_TRUE(endsWith(report.codeLine, "DdiObject.cpp:74 - Error code: 10323\r\n"));
    EXPECT_EQ(afterPrefix(report.conditionLine),
              "Condition: false, this function is empty, should not get here\r\r\n");
}

} // namespace
