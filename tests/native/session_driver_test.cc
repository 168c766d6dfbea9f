#include "session_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "end_of_session.h"
#include "fake_platform.h"
#include "guard_table.h"
#include "line_reader.h"
#include "process_state.h"
#include "session_driver_testing.h"

namespace velmora {
namespace {

using Calls = std::vector<std::string>;

class SessionDriverTest : public testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  void TearDown() override { fake::reset(); }
};

bool contains(const Calls& calls, const std::string& entry) {
  return std::find(calls.begin(), calls.end(), entry) != calls.end();
}

const std::string ready_line = "write_stdout {\"event\":\"ready\"}";
const std::string bye_line = "write_stdout {\"event\":\"bye\"}";

// The call that shows each guard's change and the one that shows its restore, by name.
const std::map<std::string, std::pair<std::string, std::string>> shown_by = {
    {"power actions", {"power_write_ac PowerButton 0", "power_write_ac PowerButton 1"}},
    {"wake request", {"keep_awake 1", "keep_awake 0"}},
    {"beep", {"set_beep 0", "set_beep 1"}},
    {"system sounds", {"set_system_sounds_mute 1", "set_system_sounds_mute 0"}},
    {"accessibility shortcuts",
     {"set_accessibility_flags StickyKeys 0", "set_accessibility_flags StickyKeys 4"}},
    {"cursor", {"clip_cursor 960 540 961 541", "clip_cursor null"}},
};

// The table's changes in its order, or its restores in the reverse order; with `when`, only
// the restores made at that point of the shutdown.
Calls table_calls(bool restores, bool include_applying_thread_only = true,
                  std::optional<RestoreWhen> when = std::nullopt) {
  Calls wanted;
  for (const Guard& guard : guards) {
    if (!include_applying_thread_only && guard.restore_on == RestoreOn::ApplyingThread) continue;
    if (when && guard.restore_when != *when) continue;
    const auto& [change, restore] = shown_by.at(guard.name);
    wanted.push_back(restores ? restore : change);
  }
  if (restores) std::reverse(wanted.begin(), wanted.end());
  return wanted;
}

std::ptrdiff_t first(const Calls& calls, const std::string& entry) {
  return std::find(calls.begin(), calls.end(), entry) - calls.begin();
}

std::ptrdiff_t last(const Calls& calls, const std::string& entry) {
  const auto found = std::find(calls.rbegin(), calls.rend(), entry);
  return found == calls.rend() ? -1 : calls.rend() - found - 1;
}

bool in_order(const Calls& calls, const Calls& wanted) {
  auto at = calls.begin();
  for (const std::string& entry : wanted) {
    at = std::find(at, calls.end(), entry);
    if (at == calls.end()) return false;
    ++at;
  }
  return true;
}

// What must hold of every run that reaches `ready`, in either mode.
void expect_run_invariants(const Calls& calls) {
  const std::ptrdiff_t ready = first(calls, ready_line);
  ASSERT_LT(ready, static_cast<std::ptrdiff_t>(calls.size()));
  EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{bye_line, "exit 0"})) << "bye last";
  const std::ptrdiff_t quit = first(calls, "post_quit 4242");
  const std::ptrdiff_t hook_end = first(calls, "hook_thread_end");
  for (const Guard& guard : guards) {
    SCOPED_TRACE(guard.name);
    const auto& [apply, restore] = shown_by.at(guard.name);
    const auto applied = std::count(calls.begin(), calls.end(), apply);
    EXPECT_EQ(applied, std::count(calls.begin(), calls.end(), restore)) << "matched by its restore";
    if (applied == 0) continue;
    EXPECT_LT(last(calls, apply), ready) << "applied before ready";
    // Settings that outlive the process go back while the hook thread's window still hears
    // of the end of the session; the cursor and the wake request once it has stopped.
    if (guard.restore_when == RestoreWhen::BeforeHookThreadStops) {
      EXPECT_LT(last(calls, restore), quit) << "restored before the hook thread is asked to quit";
    } else {
      EXPECT_GT(first(calls, restore), hook_end) << "restored after the hook thread ended";
    }
  }
  const std::ptrdiff_t scheme = last(calls, "power_set_active_scheme");
  if (scheme > ready) {
    for (const std::string& restore : table_calls(true, true, RestoreWhen::BeforeHookThreadStops)) {
      EXPECT_LE(last(calls, restore), scheme) << restore << ": the scheme is re-applied last";
    }
  }
}

TEST_F(SessionDriverTest, EveryGuardIsShownHere) {
  for (const Guard& guard : guards) EXPECT_TRUE(shown_by.contains(guard.name)) << guard.name;
  EXPECT_EQ(shown_by.size(), guards.size());
}

TEST_F(SessionDriverTest, NormalRunOrder) {
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  const Calls calls = fake::calls();
  EXPECT_TRUE(in_order(calls, table_calls(false)));
  EXPECT_TRUE(in_order(calls, {"hook_thread_start", "clip_cursor 960 540 961 541", ready_line}));
  Calls shut_down = table_calls(true, true, RestoreWhen::BeforeHookThreadStops);
  shut_down.insert(shut_down.end(), {"post_quit 4242", "hook_thread_end"});
  for (const std::string& restore : table_calls(true, true, RestoreWhen::AfterHookThreadStops))
    shut_down.push_back(restore);
  shut_down.insert(shut_down.end(), {bye_line, "exit 0"});
  EXPECT_TRUE(in_order(calls, shut_down));
  expect_run_invariants(calls);
  EXPECT_EQ(fake::stdout_text(), "{\"event\":\"ready\"}\n{\"event\":\"bye\"}\n");
  EXPECT_FALSE(capture_active.load());
  EXPECT_FALSE(diagnostic_mode.load());
  EXPECT_NE(event_sender.load(), nullptr);
}

// The watcher is told each saved value before the setting changes, and that everything is
// back before `bye`, which comes only once it has had time to exit.
TEST_F(SessionDriverTest, WatcherToldBeforeEachChange) {
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  EXPECT_TRUE(in_order(
      fake::calls(), {"launch_watcher", "send_to_watcher power 1 mute 0 beep 0 cursor 0",
                      "power_write_ac PowerButton 0", "send_to_watcher power 1 mute 0 beep 1 cursor 0",
                      "set_beep 0", "send_to_watcher power 1 mute 1 beep 1 cursor 0",
                      "set_system_sounds_mute 1", "send_to_watcher power 1 mute 1 beep 1 cursor 1",
                      "clip_cursor 960 540 961 541", ready_line, "clip_cursor null",
                      "send_to_watcher all back", "close_watcher_pipe", "wait_for_watcher 2000", bye_line}));
  EXPECT_FALSE(contains(fake::calls(), "take_instance_lock 3000")) << "the watcher holds it";
}

// Refused: nothing changed, nothing written. A run seen in progress at the start is waited for
// before any hook or window; one that takes the lock only meanwhile finds the hook thread up,
// which is then stopped.
TEST_F(SessionDriverTest, AnotherSidecarRunningChangesNothingAndExits103) {
  const struct {
    const char* name;
    bool diagnostic;
    bool seen_at_start;
  } cases[] = {{"normal", false, true}, {"diagnostic", true, true}, {"lock taken meanwhile", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    if (c.diagnostic) fake::set_env(u"1");
    fake::set_watcher_start(WatcherStart::Refused);
    fake::set_instance_lock_free(!c.seen_at_start);
    EXPECT_EQ(fake::run_session_to_exit(), 103);
    const Calls calls = fake::calls();
    for (const auto& [name, shown] : shown_by) EXPECT_FALSE(contains(calls, shown.first)) << name;
    if (c.seen_at_start) {
      EXPECT_FALSE(contains(calls, "hook_thread_start"));
    } else {
      EXPECT_TRUE(
          in_order(calls, {"hook_thread_start", "await_watcher", "post_quit 4242", "hook_thread_end"}));
    }
    EXPECT_EQ(fake::stdout_text(), "");
    EXPECT_EQ(fake::stderr_text(), "velmora-sidecar: another sidecar is already running\n");
  }
}

// No watcher: the lock still holds, and the sidecar holds the instance lock itself.
TEST_F(SessionDriverTest, WatcherThatCannotStartIsNotFatal) {
  fake::set_watcher_start(WatcherStart::Failed);
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  const Calls calls = fake::calls();
  EXPECT_TRUE(in_order(calls, {"launch_watcher", "take_instance_lock 3000", "power_write_ac PowerButton 0",
                               ready_line, "release_instance_lock", bye_line}));
  EXPECT_FALSE(contains(calls, "send_to_watcher all back"));
  EXPECT_EQ(fake::stderr_text(),
            "velmora-sidecar: could not start the watcher, so a kill would leave the settings changed: fake "
            "system error\n");
}

TEST_F(SessionDriverTest, DiagnosticRunChangesNothing) {
  fake::set_env(u"1");
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  const Calls calls = fake::calls();
  expect_run_invariants(calls);
  for (const auto& [name, shown] : shown_by) EXPECT_EQ(first(calls, shown.first), std::ssize(calls)) << name;
  EXPECT_TRUE(in_order(calls, {"take_instance_lock 3000", ready_line, "release_instance_lock", bye_line}));
  EXPECT_FALSE(contains(calls, "launch_watcher")) << "a run that changes nothing needs no watcher";
  EXPECT_TRUE(diagnostic_mode.load());
}

TEST_F(SessionDriverTest, OnlyExactlyOneMeansDiagnostic) {
  const struct {
    std::optional<std::u16string> value;
    bool diagnostic;
  } cases[] = {
      {u"1", true},   {std::nullopt, false}, {u"", false},    {u"0", false},  {u" 1", false},
      {u"1 ", false}, {u"01", false},        {u"yes", false}, {u"11", false}, {u"\u0661", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value ? std::string(c.value->begin(), c.value->end()) : "absent");
    EXPECT_EQ(decide_diagnostic(c.value), c.diagnostic);
  }
  // The decision reaches the run: a leading zero is normal mode, guards and all.
  fake::set_env(u"01");
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  EXPECT_TRUE(in_order(fake::calls(), table_calls(false)));
}

struct LoopCase {
  const char* name;
  std::vector<std::string> chunks;
  bool fail_at_end;
  LoopEnd end;
  std::size_t unread;  // chunks never read
};

TEST_F(SessionDriverTest, CommandLoopEnds) {
  const std::string over_long(max_line_bytes + 1, ' ');
  const LoopCase cases[] = {
      {"stop", {"{\"cmd\":\"stop\"}\n"}, false, LoopEnd::Stop, 0},
      {"stop after ignored lines",
       {"{\"cmd\":\"go\"}\nhello\n\n", "{\"cmd\":\"stop\"}\r\n"},
       false,
       LoopEnd::Stop,
       0},
      {"lines after stop unread", {"{\"cmd\":\"stop\"}\n", "\xFF\n"}, false, LoopEnd::Stop, 1},
      {"final stop without line feed", {"{\"cmd\":\"stop\"}"}, false, LoopEnd::Stop, 0},
      {"stdin closed at once", {}, false, LoopEnd::EndOfInput, 0},
      {"ignored lines then end", {"{\"cmd\":\"STOP\"}\n"}, false, LoopEnd::EndOfInput, 0},
      {"invalid utf-8 before stop", {"\xC0\xAF\n", "{\"cmd\":\"stop\"}\n"}, false, LoopEnd::ReadFailed, 1},
      {"read error", {"{\"cmd\":\"go\"}\n"}, true, LoopEnd::ReadFailed, 0},
      {"over-long stop-like line ignored",
       {over_long + "{\"cmd\":\"stop\"}\n"},
       false,
       LoopEnd::EndOfInput,
       0},
      {"over-long line then stop", {over_long + "\n{\"cmd\":\"stop\"}\n"}, false, LoopEnd::Stop, 0},
      {"over-long line with invalid bytes",
       {over_long + "\xFF\n{\"cmd\":\"stop\"}\n"},
       false,
       LoopEnd::ReadFailed,
       0},
  };
  for (const LoopCase& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::set_stdin(c.chunks, c.fail_at_end);
    EXPECT_EQ(run_command_loop(), c.end);
    EXPECT_EQ(fake::stdin_chunks_left(), c.unread);
    EXPECT_EQ(fake::stdout_text(), "") << "no line is ever answered";
  }
}

TEST_F(SessionDriverTest, StopLineEndsRunWithBye) {
  fake::set_stdin({"{\"cmd\":\"stop\"}\n", "{\"cmd\":\"stop\"}\n"});
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  EXPECT_EQ(fake::stdout_text(), "{\"event\":\"ready\"}\n{\"event\":\"bye\"}\n");
  EXPECT_EQ(fake::stdin_chunks_left(), 1U);
}

TEST_F(SessionDriverTest, HookThreadEndingWithoutIdGetsNoQuit) {
  fake::set_hook_script(fake::HookScript::EndWithoutReport);
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  const Calls calls = fake::calls();
  EXPECT_FALSE(contains(calls, "post_quit 4242"));
  EXPECT_TRUE(contains(calls, "clip_cursor 960 540 961 541")) << "the cursor is confined all the same";
  EXPECT_EQ(fake::stdout_text(), "{\"event\":\"ready\"}\n{\"event\":\"bye\"}\n");
}

// A failed hook means no lock: the start-up is undone in the shutdown order (the cursor
// was never confined, so it is not released), without `ready` or `bye`.
TEST_F(SessionDriverTest, HookThatCannotBeInstalledEndsWithStatus102) {
  const struct {
    fake::HookScript script;
    const char* report;
  } cases[] = {
      {fake::HookScript::KeyboardHookFails,
       "velmora-sidecar: failed to install the keyboard hook: fake system error\n"},
      {fake::HookScript::MouseHookFails,
       "velmora-sidecar: failed to install the mouse hook: fake system error\n"},
  };
  // The hooks come before the guards: nothing was changed, and the watcher is let go.
  const Calls expected = {"hook_thread_start",  "await_watcher", "send_to_watcher all back",
                          "close_watcher_pipe", "write_stderr",  "exit 102"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    fake::reset();
    fake::set_hook_script(c.script);
    try {
      (void)run_session(fake::hook_thread_body);
      ADD_FAILURE() << "the run went on without its hook";
    } catch (const fake::ExitCalled& exit) {
      EXPECT_EQ(exit.status, 102);
    }
    const Calls calls = fake::calls();
    EXPECT_TRUE(in_order(calls, expected));
    EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{"write_stderr", "exit 102"}));
    for (const auto& [name, shown] : shown_by) EXPECT_FALSE(contains(calls, shown.first)) << name;
    EXPECT_EQ(fake::stdout_text(), "");
    EXPECT_EQ(fake::stderr_text(), c.report);
  }
}

// The process's own machinery fails once the guards have changed the settings (here the join
// of the hook thread at shutdown): every one goes back before the exit with status 101.
TEST_F(SessionDriverTest, FatalErrorAfterTheGuardsRestoresThemAndExits101) {
  fail_machinery_after(2);  // the event pump and the hook thread start; the join fails
  EXPECT_EQ(fake::run_session_to_exit(), 101);
  const Calls calls = fake::calls();
  for (const auto& [name, shown] : shown_by) {
    EXPECT_EQ(std::count(calls.begin(), calls.end(), shown.second), 1) << name << " put back once";
  }
  EXPECT_TRUE(in_order(calls, {ready_line, "send_to_watcher all back", "write_stderr", "exit 101"}));
  EXPECT_FALSE(contains(calls, bye_line));
  EXPECT_TRUE(fake::stderr_text().starts_with("velmora-sidecar: failed to join on thread: "))
      << fake::stderr_text();
}

TEST_F(SessionDriverTest, ComLeftOnlyWhenEntered) {
  fake::set_com_apartment_entered(false);
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  const Calls calls = fake::calls();
  EXPECT_TRUE(contains(calls, "set_system_sounds_mute 1")) << "the audio calls still run";
  EXPECT_FALSE(contains(calls, "com_leave"));
  EXPECT_EQ(calls.end()[-2], bye_line);
}

TEST_F(SessionDriverTest, UndeliveredQuitIsPostedAgain) {
  fake::set_post_quit_failures(2);
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  Calls calls = fake::calls();
  const auto first = std::find(calls.begin(), calls.end(), "post_quit 4242 failed");
  ASSERT_NE(first, calls.end());
  EXPECT_EQ(Calls(first, first + 6), (Calls{"post_quit 4242 failed", "sleep_ms 10", "post_quit 4242 failed",
                                            "sleep_ms 10", "post_quit 4242", "hook_thread_end"}));
  EXPECT_EQ(calls.end()[-2], bye_line);
}

TEST_F(SessionDriverTest, UndeliverableQuitToEndedThreadDoesNotHang) {
  fake::set_hook_script(fake::HookScript::ReportAndEnd);
  fake::set_post_quit_failures(-1);
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  const Calls calls = fake::calls();
  EXPECT_TRUE(contains(calls, "post_quit 4242 failed"));
  EXPECT_FALSE(contains(calls, "post_quit 4242"));
  EXPECT_TRUE(contains(calls, "power_set_active_scheme"));
  EXPECT_EQ(calls.end()[-2], bye_line);
}

// The end of the user's session reaches the hook thread while the main thread is blocked
// reading standard input: every setting goes back once, on the hook thread, and the run
// then ends as at end of input, with only the wake request (the main thread's own) left
// for the main thread's shutdown.
TEST_F(SessionDriverTest, EndOfSessionRestoresOnceThenRunEndsWithBye) {
  fake::set_hook_script(fake::HookScript::EndSessionThenWaitForQuit);
  fake::set_stdin_blocks(true);
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  const Calls calls = fake::calls();
  const auto ready = std::find(calls.begin(), calls.end(), "write_stdout {\"event\":\"ready\"}");
  ASSERT_NE(ready, calls.end());
  Calls expected = table_calls(true, false);
  expected.insert(expected.end(), {"cancel_input_read", "read_stdin cancelled", "post_quit 4242",
                                   "hook_thread_end", "keep_awake 0", bye_line});
  EXPECT_TRUE(in_order(Calls(ready + 1, calls.end()), expected));
  for (const auto& [name, shown] : shown_by)
    EXPECT_EQ(std::count(calls.begin(), calls.end(), shown.second), 1) << name;
  EXPECT_EQ(fake::stdout_text(), "{\"event\":\"ready\"}\n{\"event\":\"bye\"}\n");
}

TEST_F(SessionDriverTest, LateEndOfSessionRestoresNothingTwice) {
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  fake::clear_calls();
  restore_at_end_of_session();
  EXPECT_TRUE(wake_command_loop()) << "the command loop has ended already";
  EXPECT_TRUE(fake::calls().empty());
}

}  // namespace
}  // namespace velmora
