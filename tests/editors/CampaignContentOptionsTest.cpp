#include "editors/CampaignContentOptions.h"

#include <gtest/gtest.h>

#include "app/CampaignRecord.h"

namespace kavri {
namespace {

TEST(CampaignContentOptionsTest, EachOptionBelongsToItsTypesOnly) {
    // Situation: options of one type given for the others, and for a type this
    // program lacks. Expected: the first foreign option named with the type;
    // shared --message passes for message and coupon; no option passes anywhere.
    CampaignOptions file;
    file.SourceFile = "a.txt";
    EXPECT_TRUE(CheckContentOptions(kCampaignFileBased, file));
    EXPECT_EQ(CheckContentOptions(kCampaignCouponBased, file).Message,
              "--file does not apply to a coupon campaign");

    CampaignOptions message;
    message.Message = "Hello";
    EXPECT_TRUE(CheckContentOptions(kCampaignMessageBased, message));
    EXPECT_TRUE(CheckContentOptions(kCampaignCouponBased, message));
    EXPECT_EQ(CheckContentOptions(kCampaignFileBased, message).Message,
              "--message does not apply to a file campaign");

    CampaignOptions coupon;
    coupon.CouponEnabled = false;
    EXPECT_EQ(CheckContentOptions(kCampaignMessageBased, coupon).Message,
              "--coupon, --generate-coupon and --no-coupon does not apply to a message campaign");

    EXPECT_EQ(CheckContentOptions(7, message).Message,
              "--message does not apply to a type 7 campaign");
    EXPECT_EQ(CheckContentOptions(-1, message).Message,
              "--message does not apply to a type -1 campaign");
    EXPECT_TRUE(CheckContentOptions(7, CampaignOptions{}));
}

}  // namespace
}  // namespace kavri
