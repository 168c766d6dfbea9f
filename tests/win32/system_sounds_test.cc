// The system-sounds search against fake Core Audio objects: which calls it makes, what it
// returns, that every interface handed out is released once and in order, and that no
// error object is left pending after a failed call.

#include "platform.h"
#include "system_sounds_win32.h"

#include <windows.h>
#include <audioclient.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <deque>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {
namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);  // What Wine answers with no device.

struct SessionScript {
  HRESULT get_session = S_OK;
  bool null_control = false;  // GetSession succeeds but hands back NULL.
  HRESULT query_control2 = S_OK;
  HRESULT is_system = S_FALSE;
  HRESULT query_volume = S_OK;
  bool null_volume = false;
  HRESULT get_mute = S_OK;
  BOOL muted = FALSE;
  HRESULT set_mute = S_OK;
};

// Which call succeeds but hands back a NULL interface.
enum class NullAt { Nothing, Enumerator, Device, Manager, Sessions };

struct Script {
  HRESULT create = S_OK;
  std::u16string device;  // the id asked for; empty: the default device
  HRESULT get_device = S_OK;
  DWORD state = DEVICE_STATE_ACTIVE;
  HRESULT get_id = S_OK;
  HRESULT endpoint = S_OK;
  HRESULT activate = S_OK;
  HRESULT sessions = S_OK;
  HRESULT get_count = S_OK;
  std::optional<int> count;  // The number of scripted sessions unless set.
  NullAt null_at = NullAt::Nothing;
  std::vector<SessionScript> session;
};

struct RefCount {
  std::string name;
  LONG refs = 1;  // The test's own reference; the fakes are never deleted through Release.
};

ULONG add_ref(RefCount& count);
ULONG release(RefCount& count);

struct FakeErrorInfo final : IErrorInfo {
  RefCount count{"error"};
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != __uuidof(IUnknown) && iid != __uuidof(IErrorInfo)) return *out = nullptr, E_NOINTERFACE;
    AddRef();
    return *out = this, S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(count); }
  ULONG STDMETHODCALLTYPE Release() override { return release(count); }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD*) override { return E_NOTIMPL; }
};

// What the fakes saw. One per test, reached through a global because the creation seam is
// a plain function pointer.
struct World {
  Script script;
  std::vector<std::string> trace;
  std::vector<std::string> releases;
  std::vector<std::string> violations;
  std::deque<FakeErrorInfo> errors;  // Stable addresses: the thread's error slot points in here.
};
World* world = nullptr;

void violation(std::string what) { world->violations.push_back(std::move(what)); }

ULONG add_ref(RefCount& count) { return static_cast<ULONG>(++count.refs); }

ULONG release(RefCount& count) {
  world->releases.push_back(count.name);
  if (count.refs <= 1) {
    violation("released once too often: " + count.name);
    return 1;
  }
  return static_cast<ULONG>(--count.refs);
}

// Every fake call starts here: an error object still held by the thread means the previous
// failure was not followed by GetErrorInfo.
void enter(std::string call) {
  for (const FakeErrorInfo& error : world->errors) {
    if (error.count.refs != 1) violation("error object still pending at " + call);
  }
  world->trace.push_back(std::move(call));
}

// A failing fake leaves an error object on the thread, as a real server may.
HRESULT answer(HRESULT result) {
  if (FAILED(result)) (void)SetErrorInfo(0, &world->errors.emplace_back());
  return result;
}

template <typename I>
HRESULT hand_out(HRESULT result, bool null_out, I* object, void** out) {
  if (out == nullptr) return violation("no out-parameter"), E_POINTER;
  *out = nullptr;
  if (SUCCEEDED(result) && !null_out) {
    object->AddRef();
    *out = object;
  }
  return answer(result);
}

struct FakeVolume final : ISimpleAudioVolume {
  RefCount count;
  const SessionScript* script = nullptr;
  std::string tag;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    return *out = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(count); }
  ULONG STDMETHODCALLTYPE Release() override { return release(count); }
  HRESULT STDMETHODCALLTYPE SetMasterVolume(float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMasterVolume(float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMute(const BOOL mute, LPCGUID context) override {
    enter(tag + ".setmute(" + std::to_string(mute) + ")");
    if (context != nullptr) violation("SetMute with an event context");
    return answer(script->set_mute);
  }
  HRESULT STDMETHODCALLTYPE GetMute(BOOL* muted) override {
    enter(tag + ".getmute");
    *muted = SUCCEEDED(script->get_mute) ? script->muted : FALSE;
    return answer(script->get_mute);
  }
};

// IAudioSessionControl and IAudioSessionControl2 share one object, as in the real server;
// the volume interface is a separate object so the order of its release can be seen.
struct FakeSession final : IAudioSessionControl2 {
  RefCount count;
  SessionScript script;
  std::string tag;
  FakeVolume volume;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IAudioSessionControl2)) {
      enter(tag + ".control2");
      return hand_out(script.query_control2, false, this, out);
    }
    if (iid == __uuidof(ISimpleAudioVolume)) {
      enter(tag + ".volume");
      return hand_out(script.query_volume, script.null_volume, &volume, out);
    }
    violation("unexpected QueryInterface on " + tag);
    return *out = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(count); }
  ULONG STDMETHODCALLTYPE Release() override { return release(count); }
  HRESULT STDMETHODCALLTYPE GetState(AudioSessionState*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIconPath(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetIconPath(LPCWSTR, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetGroupingParam(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetGroupingParam(LPCGUID, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterAudioSessionNotification(IAudioSessionEvents*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterAudioSessionNotification(IAudioSessionEvents*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetSessionIdentifier(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSessionInstanceIdentifier(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetProcessId(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsSystemSoundsSession() override {
    enter(tag + ".system");
    return answer(script.is_system);
  }
  HRESULT STDMETHODCALLTYPE SetDuckingPreference(BOOL) override { return E_NOTIMPL; }
};

struct FakeSessionEnumerator final : IAudioSessionEnumerator {
  RefCount count{"sessions"};
  std::deque<FakeSession> sessions;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    return *out = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(count); }
  ULONG STDMETHODCALLTYPE Release() override { return release(count); }
  HRESULT STDMETHODCALLTYPE GetCount(int* result) override {
    enter("count");
    *result = world->script.count.value_or(static_cast<int>(sessions.size()));
    return answer(world->script.get_count);
  }
  HRESULT STDMETHODCALLTYPE GetSession(int index, IAudioSessionControl** out) override {
    enter("s" + std::to_string(index));
    if (index < 0 || index >= static_cast<int>(sessions.size()))
      return violation("index out of range"), E_INVALIDARG;
    FakeSession& session = sessions[index];
    return hand_out(session.script.get_session, session.script.null_control, &session,
                    reinterpret_cast<void**>(out));
  }
};

struct FakeManager final : IAudioSessionManager2 {
  RefCount count{"manager"};
  FakeSessionEnumerator sessions;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    return *out = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(count); }
  ULONG STDMETHODCALLTYPE Release() override { return release(count); }
  HRESULT STDMETHODCALLTYPE GetAudioSessionControl(LPCGUID, DWORD, IAudioSessionControl**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetSimpleAudioVolume(LPCGUID, DWORD, ISimpleAudioVolume**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetSessionEnumerator(IAudioSessionEnumerator** out) override {
    enter("sessions");
    return hand_out(world->script.sessions, world->script.null_at == NullAt::Sessions, &sessions,
                    reinterpret_cast<void**>(out));
  }
  HRESULT STDMETHODCALLTYPE RegisterSessionNotification(IAudioSessionNotification*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterSessionNotification(IAudioSessionNotification*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RegisterDuckNotification(LPCWSTR, IAudioVolumeDuckNotification*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterDuckNotification(IAudioVolumeDuckNotification*) override {
    return E_NOTIMPL;
  }
};

struct FakeDevice final : IMMDevice {
  RefCount count{"device"};
  FakeManager manager;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    return *out = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(count); }
  ULONG STDMETHODCALLTYPE Release() override { return release(count); }
  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD context, PROPVARIANT* params, void** out) override {
    enter("activate");
    if (iid != __uuidof(IAudioSessionManager2) || context != CLSCTX_INPROC_SERVER || params != nullptr) {
      violation("Activate arguments");
    }
    return hand_out(world->script.activate, world->script.null_at == NullAt::Manager, &manager, out);
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* out) override {
    enter("id");
    *out = nullptr;
    if (FAILED(world->script.get_id)) return answer(world->script.get_id);
    static constexpr wchar_t id[] = L"{0.0.0.00000000}.{fake}";
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(id)));
    std::copy(std::begin(id), std::end(id), *out);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    enter("state");
    *state = world->script.state;
    return S_OK;
  }
};

struct FakeDeviceEnumerator final : IMMDeviceEnumerator {
  RefCount count{"devices"};
  FakeDevice device;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    return *out = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(count); }
  ULONG STDMETHODCALLTYPE Release() override { return release(count); }
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** out) override {
    enter("endpoint");
    if (flow != eRender || role != eConsole) violation("GetDefaultAudioEndpoint arguments");
    return hand_out(world->script.endpoint, world->script.null_at == NullAt::Device, &device,
                    reinterpret_cast<void**>(out));
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** out) override {
    enter("device");
    if (std::u16string(id, id + std::wcslen(id)) != world->script.device)
      violation("GetDevice with another id");
    return hand_out(world->script.get_device, false, &device, reinterpret_cast<void**>(out));
  }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
};

FakeDeviceEnumerator* fake_devices = nullptr;

HRESULT STDAPICALLTYPE fake_create_instance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                            LPVOID* out) {
  enter("create");
  if (clsid != __uuidof(MMDeviceEnumerator) || outer != nullptr || context != CLSCTX_INPROC_SERVER ||
      iid != __uuidof(IMMDeviceEnumerator)) {
    violation("CoCreateInstance arguments");
  }
  return hand_out(world->script.create, world->script.null_at == NullAt::Enumerator, fake_devices, out);
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

struct Outcome {
  World seen;
  std::optional<bool> result;  // the mute state found, on success
  HRESULT error = S_OK;
  std::u16string device;
};

// Runs the search once against fakes built from `script`; anything amiss lands in violations.
void run(const Script& script, bool mute, Outcome& out) {
  out.seen.script = script;
  world = &out.seen;
  auto devices = std::make_unique<FakeDeviceEnumerator>();
  fake_devices = devices.get();
  auto& sessions = devices->device.manager.sessions;
  for (std::size_t i = 0; i < script.session.size(); ++i) {
    FakeSession& session = sessions.sessions.emplace_back();
    session.tag = session.count.name = "s" + std::to_string(i);
    session.script = script.session[i];
    session.volume.script = &session.script;
    session.volume.tag = session.tag;
    session.volume.count.name = session.tag + ".volume";
  }

  SoundsMute found;
  out.error = system_sounds_mute_with(&fake_create_instance, script.device, mute, found);
  if (SUCCEEDED(out.error)) out.result = found.muted;
  out.device = found.device;

  enter("end");  // Catches an error object left pending by the last call.
  out.seen.trace.pop_back();
  auto check = [&](const RefCount& count) {
    if (count.refs != 1)
      violation(count.name + " holds " + std::to_string(count.refs - 1) + " extra references");
  };
  check(devices->count);
  check(devices->device.count);
  check(devices->device.manager.count);
  check(sessions.count);
  for (const FakeSession& session : sessions.sessions) {
    check(session.count);
    check(session.volume.count);
  }
  for (const FakeErrorInfo& error : out.seen.errors) check(error.count);
  IErrorInfo* left = nullptr;  // Never leave the thread pointing at this run's objects.
  if (GetErrorInfo(0, &left) == S_OK && left != nullptr) left->Release();
  world = nullptr;
  fake_devices = nullptr;
}

constexpr char kToCount[] = "create endpoint id activate sessions count";

SessionScript plain() { return {}; }
SessionScript system_sounds(BOOL muted = FALSE) { return {.is_system = S_OK, .muted = muted}; }

struct Case {
  const char* name;
  Script script;
  bool mute;
  std::optional<bool> result;
  std::string trace;  // Calls after kToCount, or the whole trace when it starts with '!'.
};

std::string full_trace(const std::string& expected) {
  if (!expected.empty() && expected[0] == '!') return expected.substr(1);
  return expected.empty() ? kToCount : std::string(kToCount) + " " + expected;
}

TEST(SystemSoundsSearch, FollowsEachScriptedAnswer) {
  const std::string found0 = "s0 s0.control2 s0.system s0.volume s0.getmute ";
  const Case cases[] = {
      {"enumerator not created", {.create = REGDB_E_CLASSNOTREG}, true, std::nullopt, "!create"},
      {"enumerator NULL on success", {.null_at = NullAt::Enumerator}, true, std::nullopt, "!create"},
      {"no default device", {.endpoint = kNotFound}, true, std::nullopt, "!create endpoint"},
      {"device NULL on success", {.null_at = NullAt::Device}, true, std::nullopt, "!create endpoint"},
      {"activate fails", {.activate = E_NOINTERFACE}, true, std::nullopt, "!create endpoint id activate"},
      {"manager NULL on success",
       {.null_at = NullAt::Manager},
       true,
       std::nullopt,
       "!create endpoint id activate"},
      {"no session enumerator",
       {.sessions = E_OUTOFMEMORY},
       true,
       std::nullopt,
       "!create endpoint id activate sessions"},
      {"count fails", {.get_count = E_FAIL, .session = {system_sounds()}}, true, std::nullopt, ""},
      {"zero sessions", {}, true, std::nullopt, ""},
      {"negative count", {.count = -1, .session = {system_sounds()}}, true, std::nullopt, ""},
      {"no system-sounds session",
       {.session = {plain(), {.is_system = E_FAIL}}},
       true,
       std::nullopt,
       "s0 s0.control2 s0.system s1 s1.control2 s1.system"},
      {"another success code is not a match",
       {.session = {{.is_system = 2}}},
       true,
       std::nullopt,
       "s0 s0.control2 s0.system"},
      {"two system-sounds sessions: the lower index only",
       {.session = {plain(), system_sounds(), system_sounds()}},
       true,
       false,
       "s0 s0.control2 s0.system s1 s1.control2 s1.system s1.volume s1.getmute s1.setmute(1)"},
      {"GetSession fails, then a match",
       {.session = {{.get_session = E_FAIL, .is_system = S_OK}, system_sounds()}},
       true,
       false,
       "s0 s1 s1.control2 s1.system s1.volume s1.getmute s1.setmute(1)"},
      {"GetSession NULL on success, then a match",
       {.session = {{.null_control = true, .is_system = S_OK}, system_sounds(TRUE)}},
       true,
       true,
       "s0 s1 s1.control2 s1.system s1.volume s1.getmute s1.setmute(1)"},
      {"no IAudioSessionControl2, then a match",
       {.session = {{.query_control2 = E_NOINTERFACE, .is_system = S_OK}, system_sounds()}},
       true,
       false,
       "s0 s0.control2 s1 s1.control2 s1.system s1.volume s1.getmute s1.setmute(1)"},
      {"no volume interface",
       {.session = {{.is_system = S_OK, .query_volume = E_NOINTERFACE}}},
       true,
       std::nullopt,
       "s0 s0.control2 s0.system s0.volume"},
      {"volume NULL on success",
       {.session = {{.is_system = S_OK, .null_volume = true}}},
       true,
       std::nullopt,
       "s0 s0.control2 s0.system s0.volume"},
      {"GetMute fails: state untouched",
       {.session = {{.is_system = S_OK, .get_mute = E_FAIL}}},
       true,
       std::nullopt,
       "s0 s0.control2 s0.system s0.volume s0.getmute"},
      {"SetMute fails after GetMute",
       {.session = {{.is_system = S_OK, .muted = TRUE, .set_mute = E_ACCESSDENIED}}},
       true,
       std::nullopt,
       found0 + "s0.setmute(1)"},
      {"not muted: muted now", {.session = {system_sounds(FALSE)}}, true, false, found0 + "s0.setmute(1)"},
      {"already muted: SetMute still made",
       {.session = {system_sounds(TRUE)}},
       true,
       true,
       found0 + "s0.setmute(1)"},
      {"restore to unmuted", {.session = {system_sounds(TRUE)}}, false, true, found0 + "s0.setmute(0)"},
      {"restore to muted", {.session = {system_sounds(FALSE)}}, false, false, found0 + "s0.setmute(0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome r;
    run(c.script, c.mute, r);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(joined(r.seen.trace), full_trace(c.trace));
    EXPECT_EQ(joined(r.seen.violations), "");
  }
}

// The mute goes back to the device it was taken from: found by its id while it is active,
// and a device that is gone says so (its value then stays owed).
TEST(SystemSoundsSearch, FindsTheDeviceByItsIdOrSaysItIsGone) {
  const std::string found0 = "s0 s0.control2 s0.system s0.volume s0.getmute s0.setmute(0)";
  const struct {
    const char* name;
    Script script;
    HRESULT error;
    std::string trace;
    std::u16string device;
  } cases[] = {
      {"default device: its id",
       {.session = {system_sounds()}},
       S_OK,
       std::string(kToCount) + " " + found0,
       u"{0.0.0.00000000}.{fake}"},
      {"default device without an id", {.get_id = E_OUTOFMEMORY}, E_OUTOFMEMORY, "create endpoint id", u""},
      {"by id, active",
       {.device = u"{x}", .session = {system_sounds()}},
       S_OK,
       "create device state activate sessions count " + found0,
       u"{x}"},
      {"by id, gone", {.device = u"{x}", .get_device = kNotFound}, kNotFound, "create device", u""},
      {"by id, unplugged",
       {.device = u"{x}", .state = DEVICE_STATE_UNPLUGGED},
       kNotFound,
       "create device state",
       u""},
      {"no system-sounds session",
       {.session = {plain()}},
       kNotFound,
       std::string(kToCount) + " s0 s0.control2 s0.system",
       u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome r;
    run(c.script, false, r);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(joined(r.seen.trace), c.trace);
    EXPECT_TRUE(r.device == c.device);
    EXPECT_EQ(joined(r.seen.violations), "");
  }
}

// The error objects the fakes plant are only released if the search fetches them; the
// check in run() sees any left behind. This case makes sure failures did plant some.
TEST(SystemSoundsSearch, TakesErrorObjectOffTheThreadAfterEachFailure) {
  Outcome r;
  run({.session = {{.get_session = E_FAIL}, {.is_system = E_FAIL}, {.is_system = S_OK, .get_mute = E_FAIL}}},
      true, r);
  EXPECT_EQ(r.seen.errors.size(), 3u);
  EXPECT_EQ(joined(r.seen.violations), "");
  IErrorInfo* pending = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &pending), S_FALSE);
  EXPECT_EQ(pending, nullptr);
}

TEST(SystemSoundsSearch, ReleasesLastObtainedFirst) {
  Outcome found;
  run({.session = {plain(), system_sounds()}}, true, found);
  EXPECT_EQ(joined(found.seen.releases), "s0 s0 s1.volume s1 s1 sessions manager device devices");

  Outcome failed;
  run({.session = {{.is_system = S_OK, .get_mute = E_FAIL}}}, true, failed);
  EXPECT_EQ(joined(failed.seen.releases), "error s0.volume s0 s0 sessions manager device devices");
}

// Wine has no playback device: the real entry points find nothing, and a restore to a device
// that is not there fails with the error the journal keeps it owed for.
TEST(SystemSoundsLive, NoDeviceUnderWineGivesNothing) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(platform_get_system_sounds_mute(), std::nullopt);
  bool was_muted = false;
  EXPECT_NE(platform_set_system_sounds_mute(u"{0.0.0.00000000}.{gone}", false, &was_muted), 0u);
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace
}  // namespace velmora
