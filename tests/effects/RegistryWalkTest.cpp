// Every effect of the registry: a record with defaults, and, where its renderer is built, a render
// with those defaults on a small image in each sample type.
#include "RenderTestSupport.h"
#include "document/filters/EffectRegistry.h"

#include <gtest/gtest.h>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

TEST(RegistryWalk, EveryAvailableEffectRendersItsDefaults) {
    int rendered = 0;
    for (const EffectInfo& e : EffectRegistry::all()) {
        SCOPED_TRACE(e.shortName);
        auto params = EffectRegistry::createParams(e.id);
        auto renderer = EffectRegistry::createRenderer(e.id);
        if (!params) {
            EXPECT_EQ(renderer, nullptr) << "an effect without a record cannot render";
            continue;
        }
        if (!renderer) continue;
        for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
            auto source = makePlane(96, 64, type, true, 0.8f);
            auto result = emptyLike(*source);
            auto mask = makeMask(96, 64, RectI{8, 4, 90, 40});
            MaskChannels masks;
            masks.mask = masks.duoMask = mask.get();
            RunContext context;
            auto lastRun = params->clone();
            RunOutcome outcome = RunOutcome::Cancelled;
            ASSERT_NO_THROW(outcome = renderer->processAny(*lastRun, *source, masks, *result, context));
            EXPECT_EQ(outcome, RunOutcome::Done);
            EXPECT_EQ(result->size(), source->size());
            EXPECT_EQ(result->commonType(), type);
        }
        ++rendered;
    }
    EXPECT_GE(rendered, 2); // rain and clouds at least
}
