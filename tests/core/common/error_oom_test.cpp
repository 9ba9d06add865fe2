#include <gtest/gtest.h>

#include "core/common/error.h"
#include "core/common/error_record.h"
#include "failing_allocations.h"

namespace {

using Common::Error;
using TestSupport::FailingNothrowAllocations;

const Common::ErrorLocation kSite = COMMON_ERROR_SITE("tests/core/common/error_oom_test", "Tests::Oom", 12);

uint32_t OutOfMemoryRefs() {
    return Common::OutOfMemoryRecord().refs.load();
}

TEST(ErrorOutOfMemory, EveryConstructorFallsBackToTheStaticRecord) {
    const uint32_t before = OutOfMemoryRefs();
    {
        FailingNothrowAllocations failing(0);
        const Error errors[] = {Error::FromCode(kSite, 1), Error::FromText(kSite, 1, "narrow"),
                                Error::FromText(kSite, 1, L"wide"), Error().AddWindowsError(5)};
        EXPECT_EQ(failing.refused(), 4);
        for (const Error& error : errors) {
            EXPECT_EQ(error.Head(), &Common::OutOfMemoryRecord());
        }
        EXPECT_EQ(OutOfMemoryRefs(), before + 4);
    }
    EXPECT_EQ(OutOfMemoryRefs(), before);
}

TEST(ErrorOutOfMemory, TheStaticRecordIsACodeOnlyRecordWithoutLocation) {
    FailingNothrowAllocations failing(0);
    const Error error = Error::FromText(kSite, 0x77, L"lost");
    EXPECT_EQ(error.Code(), Common::kOutOfMemoryCode);
    EXPECT_EQ(error.Head()->kind, &Common::kCodeOnlyKind);
    EXPECT_EQ(error.Text(), L"");
    EXPECT_STREQ(error.ParameterNames(), "$module");
    EXPECT_TRUE(error.Cause().IsEmpty());
    const Common::ErrorLocation location = error.Location();
    EXPECT_EQ(location.tag, 0u);
    EXPECT_EQ(location.file, nullptr);
    EXPECT_EQ(location.function, nullptr);
    EXPECT_EQ(location.line, 0u);
    EXPECT_EQ(error.FullText(255, nullptr), L"Error 0xfff2\n| line: 0x0\n| $module: hostprobe_vsa64_42608");
}

TEST(ErrorOutOfMemory, AFailedSystemRecordAttachesTheStaticRecordAsCause) {
    Error error = Error::FromCode(kSite, 0x10);
    FailingNothrowAllocations failing(0);
    error.AddWindowsError(5);
    EXPECT_EQ(error.Code(), 0x10u);
    EXPECT_EQ(error.Cause().Head(), &Common::OutOfMemoryRecord());
}

TEST(ErrorOutOfMemory, AFailedCloneDropsTheNewRecordAndLeavesTheErrorAlone) {
    Error error = Error::FromText(kSite, 0x20, "kept");
    error.AddWindowsError(5);
    const Error copy = error;
    const Error oldCause = error.Cause();
    const Common::ErrorRecord* head = error.Head();
    {
        FailingNothrowAllocations failing(1);  // the system record, then not the clone
        error.AddWindowsError(6);
        EXPECT_EQ(failing.refused(), 1);
    }
    EXPECT_EQ(error.Head(), head);
    EXPECT_EQ(error.Cause().Head(), oldCause.Head());
    EXPECT_EQ(head->refs.load(), 2u);             // error and copy
    EXPECT_EQ(oldCause.Head()->refs.load(), 2u);  // the head and oldCause
}

TEST(ErrorOutOfMemory, AttachingToTheStaticRecordClonesIt) {
    Error error;
    {
        FailingNothrowAllocations failing(0);
        error = Error::FromCode(kSite, 1);
    }
    error.AddHResult(0x1234);
    EXPECT_NE(error.Head(), &Common::OutOfMemoryRecord());
    EXPECT_EQ(error.Code(), Common::kOutOfMemoryCode);
    EXPECT_EQ(error.Cause().NumericParameter("code"), 0x1234u);
    EXPECT_EQ(Common::OutOfMemoryRecord().cause, nullptr);
}

}  // namespace
