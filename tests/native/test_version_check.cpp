#include "check.h"
#include "frame/version_check.h"

using namespace zalmor::frame;

CORE_TEST(build_version_text_fits_its_buffer) {
    CHECK_EQ(build_version_text(3, 7), "3.7");
    CHECK_EQ(build_version_text(3, 11), "3.11");
    CHECK_EQ(build_version_text(3, 123), "3.12");  // cut to 4 characters
}

CORE_TEST(version_agrees_only_on_a_whole_minor_number) {
    CHECK(version_matches("3.7", "3.7.4 (default, ...)"));
    CHECK(version_matches("3.7", "3.7"));
    CHECK(version_matches("3.7", "3.7+"));
    CHECK(!version_matches("3.7", "3.8.1"));
    CHECK(!version_matches("3.7", "3.70.1"));
    CHECK(!version_matches("3.1", "3.11.7"));
    CHECK(version_matches("3.11", "3.11.7 (main, Jan  1 2024)"));
    CHECK(!version_matches("3.11", "3.12.1"));
    CHECK(!version_matches("3.11", "3.110"));
    CHECK(!version_matches("3.11", "3.1"));
    CHECK(!version_matches("3.11", ""));
}

CORE_TEST(mismatch_message_names_both_versions) {
    CHECK_EQ(running_version_prefix("3.8.1 (main)"), "3.8");
    CHECK_EQ(running_version_prefix("3.12.1"), "3.12");
    CHECK_EQ(running_version_prefix("10.1"), "10.1");
    CHECK_EQ(running_version_prefix("3a"), "3");
    CHECK_EQ(version_mismatch_message("3.11", "zalmor.ops.brenthosca", "3.12.1 (main)"),
             "compiletime version 3.11 of module 'zalmor.ops.brenthosca' does not match runtime "
             "version 3.12");
    // The module name is cut at 100 characters, the whole text at 199.
    const std::string long_name(300, 'm');
    const std::string message = version_mismatch_message("3.11", long_name.c_str(), "3.12");
    CHECK(message.size() <= 199);
    CHECK(message.find(std::string(101, 'm')) == std::string::npos);
}
