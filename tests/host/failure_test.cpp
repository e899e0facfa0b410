// The failure handler: event text, error trailer, the two modes and the
// reserved number.
#include <gtest/gtest.h>

#include "host/page.h"
#include "support/test_request.h"

namespace oapx1 {
namespace {

using testing::TestRequest;

// A page whose methods fail on demand, to drive the handler.
class FailingPage : public Page {
 public:
  void I_init() override { bind_request_context(); }
  Variant reporting(int32_t number, const std::string& message, int32_t line = 0) {
    Variant result;
    report_and_leave("reporting", [&] {
      response_object().write("before");
      result = "partly";
      throw ScriptError(number, message, line);
    });
    return result;
  }
  void init_like(int32_t number) {
    initialiser("tvincfunctiondbI_init", [&] {
      response_object().write("init ");
      throw ScriptError(number, "quiet");
    });
  }
  // Calls a report-and-leave method that fails with the reserved number.
  void caller_of_reserved() {
    report_and_leave("caller", [&] {
      reporting(err::kReserved, "reserved");
      response_object().write("not reached");
    });
  }
  Variant ignoring() {
    Variant result = "start";
    step([&] { throw ScriptError(3021, "skipped"); });
    step([&] { result = result.str() + "+next"; });
    if (condition([&]() -> bool { throw ScriptError(13, "bad test"); })) {
      result = result.str() + "+guarded";
    }
    return result;
  }
  void internal_fault() {
    report_and_leave("internal", [&] { throw std::runtime_error("vector::at"); });
  }
};

TEST(FailureHandler, report_and_leave_logs_one_event_and_writes_one_trailer) {
  TestRequest request;
  FailingPage page;
  const Variant result = page.reporting(3021, "No current record.", 7);
  EXPECT_EQ(result.str(), "partly");  // the result as it stood
  EXPECT_EQ(request.body(),
            "before Error No current record. LINE7 Routine : tvwortqflowjiedia.reporting");
  ASSERT_EQ(request.events.entries().size(), 1u);
  EXPECT_EQ(request.events.entries()[0].first, 1);
  EXPECT_EQ(request.events.entries()[0].second,
            " 3021No current record. LINE #7 Routine : tvwortqflowjiedia.reporting");
}

TEST(FailureHandler, trailer_encodes_the_message_but_the_event_keeps_it) {
  TestRequest request;
  FailingPage page;
  page.reporting(-2147217900, "near \"<script>\": syntax error & 'x'");
  EXPECT_EQ(request.body(),
            "before Error near &quot;&lt;script&gt;&quot;: syntax error &amp; &#39;x&#39; LINE0 "
            "Routine : tvwortqflowjiedia.reporting");
  EXPECT_EQ(request.event_texts().at(0),
            " -2147217900near \"<script>\": syntax error & 'x' LINE #0 Routine : "
            "tvwortqflowjiedia.reporting");
}

TEST(FailureHandler, reserved_number_passes_up_unreported_and_ends_an_initialiser_quietly) {
  TestRequest request;
  FailingPage page;
  EXPECT_THROW(page.reporting(err::kReserved, "x"), ScriptError);
  EXPECT_THROW(page.caller_of_reserved(), ScriptError);
  EXPECT_NO_THROW(page.init_like(err::kReserved));
  EXPECT_EQ(request.body(), "beforebeforeinit ");
  EXPECT_TRUE(request.events.entries().empty());

  // Any other number in an initialiser is reported like everywhere else.
  page.init_like(5);
  EXPECT_EQ(request.event_texts().size(), 1u);
  EXPECT_NE(request.body().find(" Error quiet LINE0 Routine : tvwortqflowjiedia.tvincfunctiondbI_init"),
            std::string::npos);
}

TEST(FailureHandler, ignore_and_continue_skips_the_statement_and_enters_a_failed_test) {
  TestRequest request;
  FailingPage page;
  EXPECT_EQ(page.ignoring().str(), "start+next+guarded");
  EXPECT_EQ(request.body(), "");
  EXPECT_TRUE(request.events.entries().empty());
}

TEST(FailureHandler, a_fault_that_is_not_a_script_error_is_reported_as_an_internal_error) {
  TestRequest request;
  FailingPage page;
  page.internal_fault();
  EXPECT_EQ(request.event_texts().at(0), " 51vector::at LINE #0 Routine : tvwortqflowjiedia.internal");
}

TEST(FailureHandler, a_failure_of_the_handler_itself_passes_to_the_caller) {
  TestRequest request;
  request.context.response = nullptr;
  bind_intrinsics(&request.context);  // no Response: the trailer cannot be written
  FailingPage page;
  EXPECT_THROW(page.reporting(3021, "x"), ScriptError);
  EXPECT_EQ(request.events.entries().size(), 1u);  // the event was written first
}

TEST(PageContext, binding_outside_a_page_host_fails_at_first_use_and_rebinding_replaces) {
  {
    TestRequest first;
    first.request.add_query("OAID", "1");
    FailingPage page;
    set_current_object_context(nullptr);
    page.bind_request_context();  // no object context: nothing bound, nothing reported
    EXPECT_THROW(response_object(), ScriptError);
    set_current_object_context(&first.context);
    page.bind_request_context();
    EXPECT_EQ(request_object().item("OAID").str(), "1");
  }
  TestRequest second;
  FailingPage page;
  page.bind_request_context();
  EXPECT_TRUE(request_object().item("OAID").is_empty());  // its own request, not the last one
  page.OnEndPage();
}

}  // namespace
}  // namespace oapx1
