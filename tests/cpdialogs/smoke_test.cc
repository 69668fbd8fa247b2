// The harness itself: a plain dialog shows on the virtual display and is photographed.
#include "widget_support.h"

#include <gtest/gtest.h>
#include <wx/dialog.h>

#include <filesystem>

TEST(widget_harness, ShowsADialogAndTakesAScreenshot) {
    wxDialog dialog(nullptr, wxID_ANY, "Harness");
    tn_test::screenshot(&dialog, "harness");
    EXPECT_TRUE(std::filesystem::exists(std::string(TN_SHOTS_DIR) + "/harness.png"));
}
