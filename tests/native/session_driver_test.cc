#include "session_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <string>
#include <thread>
#include <vector>

#include "end_of_session.h"
#include "call_log.h"
#include "fake_platform.h"
#include "guard_table.h"
#include "journal.h"
#include "line_reader.h"
#include "process_state.h"
#include "session_driver_testing.h"

namespace velmora {
namespace {

using fake::Calls;
using fake::in_order;

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
    {"touchpad gestures", {"set_touchpad_settings 1000000", "set_touchpad_settings 1111111"}},
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

// Every guard is saved, and the record kept on disk and written into the watcher's pipe, before
// the first change; the watcher's process starts only after `ready`, off its path. After each
// restore pass both hear what is still changed, and the journal goes once everything is back,
// before `bye`.
TEST_F(SessionDriverTest, RecordKeptBeforeAnyChangeAndAfterEachRestorePass) {
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  const Calls calls = fake::calls();
  EXPECT_TRUE(in_order(calls, {"take_run_lock 3000", "await_instance_lock_free 3000", "journal_read none",
                               "open_watcher_pipe"}));
  const std::string all = "power 1 mute 1 beep 1 cursor 1";
  EXPECT_TRUE(in_order(
      calls, {"get_beep", "journal_write " + all, "send_to_watcher " + all, "power_write_ac PowerButton 0",
              ready_line, "launch_watcher", "set_beep 1", "journal_write power 0 mute 0 beep 0 cursor 1",
              "send_to_watcher power 0 mute 0 beep 0 cursor 1", "post_quit 4242", "clip_cursor null",
              "journal_delete", "send_to_watcher all back", "close_watcher_pipe", "wait_for_watcher 2000",
              "release_run_lock", bye_line}));
  EXPECT_LT(last(calls, "get_system_sounds_mute"), first(calls, "journal_write " + all))
      << "every save first";
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "journal_write " + all), 1) << "one durable write";
  EXPECT_FALSE(fake::journal().has_value());
}

// Refused: no hook, no window, nothing changed, nothing written on standard output.
TEST_F(SessionDriverTest, AnotherSidecarRunningChangesNothingAndExits103) {
  const std::string running = "velmora-sidecar: another sidecar is already running\n";
  const struct {
    const char* name;
    bool diagnostic;
    LockTake run;
    LockTake instance;
    std::string report;
  } cases[] = {
      {"run lock held", false, LockTake::Held, LockTake::Taken, running},
      {"diagnostic", true, LockTake::Held, LockTake::Taken, running},
      {"a killed run's watcher still putting back", false, LockTake::Taken, LockTake::Held, running},
      {"another user, or another privilege level", false, LockTake::OtherSession, LockTake::Taken,
       "velmora-sidecar: a sidecar of another user or at another privilege level holds the lock\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    if (c.diagnostic) fake::set_env(u"1");
    fake::set_locks(c.run, c.instance);
    EXPECT_EQ(fake::run_session_to_exit(), 103);
    const Calls calls = fake::calls();
    for (const auto& [name, shown] : shown_by) EXPECT_FALSE(contains(calls, shown.first)) << name;
    EXPECT_FALSE(contains(calls, "hook_thread_start"));
    EXPECT_FALSE(contains(calls, "launch_watcher"));
    EXPECT_EQ(contains(calls, "release_run_lock"), c.run == LockTake::Taken);
    EXPECT_EQ(fake::stdout_text(), "");
    EXPECT_EQ(fake::stderr_text(), c.report);
  }
}

// No watcher, or one in a job that ends with the parent: said, and the journal covers a kill.
TEST_F(SessionDriverTest, WatcherThatCannotCoverAKillIsSaidNotFatal) {
  const std::string cannot_start =
      "velmora-sidecar: could not start the watcher, so a kill would leave the settings changed until the "
      "next run: fake system error\n";
  const struct {
    bool pipe_opens;
    WatcherLaunch launch;
    std::string report;
  } cases[] = {
      {false, {true, false, {}}, cannot_start},
      {true, {false, false, "fake system error"}, cannot_start},
      {true,
       {true, true, {}},
       "velmora-sidecar: the watcher runs in the parent's job, which ends it with the parent; the journal "
       "covers that\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    fake::reset();
    fake::set_watcher_pipe_opens(c.pipe_opens);
    fake::set_watcher_launch(c.launch);
    EXPECT_EQ(fake::run_session_to_exit(), 0);
    const Calls calls = fake::calls();
    EXPECT_TRUE(in_order(calls, {"journal_write power 1 mute 1 beep 1 cursor 1",
                                 "power_write_ac PowerButton 0", ready_line, "journal_delete", bye_line}));
    EXPECT_EQ(contains(calls, "launch_watcher"), c.pipe_opens);
    EXPECT_EQ(fake::stderr_text(), c.report);
  }
}

// A watcher that dies during the run is said once; the run goes on under its journal.
TEST_F(SessionDriverTest, WatcherThatDiesIsSaidOnce) {
  fake::end_watcher();  // gone before the first record reaches it
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  EXPECT_EQ(fake::stderr_text(),
            "velmora-sidecar: the watcher ended during the run; the journal still covers a kill\n");
  EXPECT_FALSE(fake::journal().has_value()) << "everything went back all the same";
}

TEST_F(SessionDriverTest, JournalThatCannotBeWrittenIsSaidOnceAndTheRunGoesOn) {
  fake::set_journal_write_fails(true);
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  EXPECT_EQ(fake::stderr_text(),
            "velmora-sidecar: could not write the journal, so a power cut would leave the settings changed: "
            "fake system error\n");
  EXPECT_TRUE(in_order(fake::calls(), {"send_to_watcher power 1 mute 1 beep 1 cursor 1",
                                       "power_write_ac PowerButton 0", ready_line, bye_line}));
}

// A journal left by a run that never finished goes back before anything is saved, in the
// shutdown order, and its removal comes after the power values are flushed; one that does
// not decode is deleted and never applied. A diagnostic run changes nothing, so it leaves
// the journal to the next run that does.
TEST_F(SessionDriverTest, LeftoverJournalPutBackFirst) {
  SavedSettings left;
  left.beep = true;
  PowerSnapshot power;
  power.scheme = fake::fake_scheme;
  power.lid_close = {7, std::nullopt};
  left.power = power;
  left.cursor_confined = true;
  const std::vector<std::uint8_t> leftover = encode_journal(fake::fake_machine, left);
  const std::vector<std::uint8_t> no_version = [&] {
    std::vector<std::uint8_t> bytes = leftover;
    bytes[0] = 0;
    return bytes;
  }();
  const std::string put_back =
      "velmora-sidecar: put back the settings left changed by a run that did not finish\n";
  const std::string discarded =
      "velmora-sidecar: discarded a journal of saved settings that does not decode\n";
  const Calls deleted = {"flush_power_settings", "journal_delete"};
  const struct {
    const char* name;
    std::vector<std::uint8_t> journal;
    bool diagnostic;
    Calls replayed;
    std::string report;
  } cases[] = {
      {"leftover",
       leftover,
       false,
       {"clip_cursor null", "set_beep 1", "power_write_ac LidClose 7", "power_set_active_scheme",
        "flush_power_settings", "journal_delete"},
       put_back},
      {"no version", no_version, false, deleted, discarded},
      {"wrong size", {1, 'S', 0}, false, deleted, discarded},
      {"diagnostic run", leftover, true, {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::set_locked_state();
    if (c.diagnostic) fake::set_env(u"1");
    fake::set_journal(c.journal);
    EXPECT_EQ(fake::run_session_to_exit(), 0);
    const Calls calls = fake::calls();
    const auto hook_start = std::find(calls.begin(), calls.end(), "hook_thread_start");
    const auto lock = std::find(calls.begin(), calls.end(), "await_instance_lock_free 3000");
    ASSERT_LT(lock, hook_start);
    Calls before_hooks(lock + 1, hook_start);
    std::erase_if(before_hooks, [](const std::string& call) {
      return call.starts_with("journal_read") || call.starts_with("screen_") || call == "write_stderr" ||
             call == "launch_watcher" || call.starts_with("com_") || call.starts_with("get_") ||
             call.starts_with("power_read") || call == "power_get_active_scheme";
    });
    EXPECT_EQ(before_hooks, c.replayed);
    EXPECT_EQ(fake::stderr_text(), c.report);
    EXPECT_EQ(fake::journal().has_value(), c.diagnostic);
  }
}

// The restore-only run: the locks, the leftover journal put back, `bye`, and nothing else.
TEST_F(SessionDriverTest, RestoreOnlyRunPutsBackLeftoversAndNothingElse) {
  const struct {
    const char* name;
    bool leftover;
    LockTake run;
    int status;
  } cases[] = {
      {"nothing left", false, LockTake::Taken, 0},
      {"a leftover", true, LockTake::Taken, 0},
      {"while a lock runs", true, LockTake::Held, 103},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::set_restore_only_env(u"1");
    fake::set_env(u"1");  // diagnostic mode too, which it overrides
    SavedSettings left;
    left.beep = true;
    if (c.leftover) fake::set_journal(encode_journal(fake::fake_machine, left));
    fake::set_locked_state();
    fake::set_locks(c.run, LockTake::Taken);
    EXPECT_EQ(fake::run_session_to_exit(), c.status);
    const Calls calls = fake::calls();
    EXPECT_FALSE(contains(calls, "hook_thread_start"));
    EXPECT_FALSE(contains(calls, "launch_watcher"));
    EXPECT_EQ(contains(calls, "set_beep 1"), c.leftover && c.status == 0);
    EXPECT_EQ(fake::journal().has_value(), c.leftover && c.status != 0);
    EXPECT_EQ(fake::stdout_text(), c.status == 0 ? "{\"event\":\"bye\"}\n" : "");
  }
}

TEST_F(SessionDriverTest, DiagnosticRunChangesNothing) {
  fake::set_env(u"1");
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  const Calls calls = fake::calls();
  expect_run_invariants(calls);
  for (const auto& [name, shown] : shown_by) EXPECT_EQ(first(calls, shown.first), std::ssize(calls)) << name;
  EXPECT_TRUE(in_order(calls, {"take_run_lock 3000", ready_line, "release_run_lock", bye_line}));
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

// Without its hooks, its shield or even its report, the hook thread made no lock: no
// `ready`, nothing changed (the guards come after it), the watcher let go, status 102.
TEST_F(SessionDriverTest, HookThreadThatMadeNoLockEndsWithStatus102) {
  const struct {
    fake::HookScript script;
    const char* report;
  } cases[] = {
      {fake::HookScript::KeyboardHookFails,
       "velmora-sidecar: failed to install the keyboard hook: fake system error\n"},
      {fake::HookScript::MouseHookFails,
       "velmora-sidecar: failed to install the mouse hook: fake system error\n"},
      {fake::HookScript::ShieldFails,
       "velmora-sidecar: failed to create the shield, so the screen would not be covered: fake system "
       "error\n"},
      {fake::HookScript::EndWithoutReport, "velmora-sidecar: the hook thread ended before it reported\n"},
  };
  const Calls expected = {"release_run_lock", "write_stderr", "exit 102"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    fake::reset();
    fake::set_hook_script(c.script);
    EXPECT_EQ(fake::run_session_to_exit(), 102);
    const Calls calls = fake::calls();
    EXPECT_TRUE(in_order(calls, expected));
    EXPECT_FALSE(contains(calls, "post_quit 4242"));
    EXPECT_FALSE(contains(calls, "open_watcher_pipe")) << "nothing to watch";
    for (const auto& [name, shown] : shown_by) EXPECT_FALSE(contains(calls, shown.first)) << name;
    EXPECT_EQ(fake::stdout_text(), "");
    EXPECT_EQ(fake::stderr_text(), c.report);
  }
}

// Neither wait on the hook thread is endless: past its bound the run puts back what it
// changed and ends with 101, saying which wait ran out.
TEST_F(SessionDriverTest, HookThreadWaitsAreBounded) {
  const struct {
    fake::HookScript script;
    const char* report;
    bool applied;
  } cases[] = {
      {fake::HookScript::HangBeforeReport, "velmora-sidecar: the hook thread did not report within 50 ms\n",
       false},
      {fake::HookScript::IgnoreQuit, "velmora-sidecar: the hook thread did not end within 50 ms\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    fake::reset();
    set_hook_thread_waits(50, 50);
    fake::set_hook_script(c.script);
    EXPECT_EQ(fake::run_session_to_exit(), 101);
    fake::release_hung_hook_thread();
    const Calls calls = fake::calls();
    for (const auto& [name, shown] : shown_by) {
      EXPECT_EQ(std::count(calls.begin(), calls.end(), shown.first), c.applied ? 1 : 0) << name;
      EXPECT_EQ(std::count(calls.begin(), calls.end(), shown.second), c.applied ? 1 : 0) << name;
    }
    EXPECT_FALSE(contains(calls, bye_line));
    EXPECT_FALSE(fake::journal().has_value());
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

// The end of the session meets the watcher's launch: the pipe is closed (and the watcher told)
// only once the launch is over, never before it, where the launch would keep it open.
TEST_F(SessionDriverTest, EndOfSessionDuringTheWatchersLaunchClosesThePipeAfterIt) {
  fake::set_end_of_session_during_launch(true);
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  const Calls calls = fake::calls();
  EXPECT_TRUE(in_order(calls, {ready_line, "launch_watcher", "launch_watcher returns",
                               "send_to_watcher all back", "close_watcher_pipe", bye_line}));
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "close_watcher_pipe"), 1);
  fake::reset();  // joins the end of the session's thread
}

// The hook thread ends no more: its quit cannot be posted, or it is still putting things back
// for the end of the session long after the quit. Each wait is bounded; an end-of-session
// restore that outlasts the wait for the thread's end still ends the run with `bye`, and one
// that never ends leaves the watcher to put back what it was last told.
TEST_F(SessionDriverTest, WaitsOnAHookThreadThatWillNotEndAreBounded) {
  const struct {
    const char* name;
    fake::HookScript script;
    fake::StallUntil stall;
    int post_failures;
    int status;
  } cases[] = {
      {"the end of the session's restore outlasts the wait", fake::HookScript::EndSessionAfterQuit,
       fake::StallUntil::SecondQuit, 0, 0},
      {"the end of the session's restore never ends", fake::HookScript::EndSessionAfterQuit,
       fake::StallUntil::Released, 0, 101},
      {"the quit is never delivered", fake::HookScript::IgnoreQuit, fake::StallUntil::Never, 1000, 101},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    set_hook_thread_waits(50, 50);
    fake::set_hook_script(c.script);
    fake::set_cursor_restore_stalls(c.stall);
    fake::set_post_quit_failures(c.post_failures);
    EXPECT_EQ(fake::run_session_to_exit(), c.status);
    const Calls calls = fake::calls();
    const bool journal_left = fake::journal().has_value();
    fake::release_stalled_restore();
    fake::release_hung_hook_thread();
    EXPECT_EQ(contains(calls, bye_line), c.status == 0);
    EXPECT_LT(std::count(calls.begin(), calls.end(), "post_quit 4242 failed"), 10);
    if (c.stall == fake::StallUntil::Released) {
      EXPECT_FALSE(contains(calls, "cursor restore goes on")) << "ended while the restore stalled";
      EXPECT_FALSE(contains(calls, "send_to_watcher all back")) << "the watcher puts the cursor back";
      EXPECT_TRUE(journal_left);
    }
  }
}

}  // namespace
}  // namespace velmora
