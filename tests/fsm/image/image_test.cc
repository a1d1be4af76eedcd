// Image Data Requests the controller refuses, and where an image's file is
// taken from.
#include "fsm/image.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/identity.h"
#include "platform/paths.h"
#include "support/controller.h"

namespace capwap::test {
namespace {

Bytes Identifier(const std::string& model, const std::string& version, const std::string& name) {
  return Element(25, Cat({U32(g_uiOid), U16(0), U16(32), Fixed(model, 32), U16(1), U16(32),
                          Fixed(version, 32), U16(2), U16(32), Fixed(name, 32)}));
}

using ImageDownload = ControllerLab;

TEST_F(ImageDownload, RefusedRequestsAreAnsweredWithResultOneAndEndTheSession) {
  const std::string file = RootPath("/usr/sbin/apimage/ia-210-2.0.0-b1");
  ASSERT_TRUE(MakeParentDirs(file));
  std::ofstream(file) << "image";
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(g_uiOid, "ia-210", "2.0.0", "", 1), 0);
  ImageRecordOf(g_uiOid, "ia-210")->file_name = "ia-210-2.0.0-b1";
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(g_uiOid + 1, "ia-310", "3.0.0", "", 1), 0);
  const struct {
    const char* name;
    Bytes elements;
  } rows[] = {
      {"no Initiate Download", Identifier("ia-210", "2.0.0", "ia-210-2.0.0")},
      {"version not in the table",
       Cat({Identifier("ia-210", "9.9.9", "ia-210-9.9.9"), Element(27, {})})},
      {"image of another vendor", Cat({Identifier("ia-310", "3.0.0", "ia-310-3.0.0"), Element(27, {})})},
  };
  uint8_t seed = 1;
  for (const auto& row : rows) {
    WtpEndpoint ap;
    CW_WTPCB* wtp = MakeWtp(ap, seed++, kStateJoin);
    Deliver(ap, ControlDatagram(kMsgImageDataReq, 3, row.elements));
    std::optional<DecodedMessage> rsp = OnlyAnswer(ap);
    ASSERT_TRUE(rsp) << row.name;
    EXPECT_EQ(rsp->ctl.msg_type, uint32_t{kMsgImageDataRsp}) << row.name;
    EXPECT_EQ(ResultOf(*rsp), 1u) << row.name;
    EXPECT_EQ(wtp->state, uint32_t{kStateIdle}) << row.name;
  }
}

TEST(ImageFile, AnUploadComesBeforeTheBuiltInFileAndStaysInItsFolder) {
  TempRoot root;
  for (const char* path : {"/usr/sbin/apimage/m-1-b", "/etc/config/vela/userspace/up.bin"}) {
    ASSERT_TRUE(MakeParentDirs(RootPath(path)));
    std::ofstream(RootPath(path)) << "x";
  }
  ImageRecord rec;
  rec.name = "m-1";
  EXPECT_EQ(CW_AC_GetImgFullName(rec), "") << "the image name alone is not the file";
  rec.file_name = "m-1-b";
  EXPECT_EQ(CW_AC_GetImgFullName(rec), RootPath("/usr/sbin/apimage/m-1-b"));
  rec.user_file = "up.bin";
  EXPECT_EQ(CW_AC_GetImgFullName(rec), RootPath("/etc/config/vela/userspace/up.bin"));
  rec.user_file = "../../../usr/sbin/apimage/m-1-b";
  EXPECT_EQ(CW_AC_GetImgFullName(rec), "");
}

}  // namespace
}  // namespace capwap::test
