// BrindleVideoControl.exe --register-camera / --unregister-camera, run as the installer runs them,
// against a stand-in mfsensorgroup.dll in the prefix's System32 (Wine has none): the calls it
// makes, in order, with what arguments; its exit code and its one line; and what it does where
// there is no mfsensorgroup.dll in System32, even with one planted beside the program.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "support/child_process_win.h"

namespace {

const std::filesystem::path kProgram = BRINDLE_CONTROL_EXE;
const std::filesystem::path kStandIn = BRINDLE_STAND_IN_DLL;
const std::filesystem::path kWindows10 = BRINDLE_WINDOWS10_DLL;

std::string contentsOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `dll` as System32's mfsensorgroup.dll while it lives. A mfsensorgroup.dll that is not one of
// the stand-ins (real Windows) is never touched: then placed() is false.
class StandInInSystem32 {
 public:
  explicit StandInInSystem32(const std::filesystem::path& dll = kStandIn) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    target_ = std::filesystem::path(system) / L"mfsensorgroup.dll";
    if (std::filesystem::exists(target_) &&
        contentsOf(target_).find("brindle stand-in mfsensorgroup") == std::string::npos) {
      return;
    }
    placed_ = CopyFileW(dll.c_str(), target_.c_str(), FALSE) != 0;
  }
  ~StandInInSystem32() {
    if (placed_) DeleteFileW(target_.c_str());
  }
  bool placed() const { return placed_; }

 private:
  std::filesystem::path target_;
  bool placed_ = false;
};

struct Outcome {
  long exitCode = -1;
  std::string output;
  std::vector<std::string> calls;  // what the stand-in recorded
};

// Runs `program` with `switches`; `fail` is the stand-in's BRINDLE_STAND_IN_FAIL.
Outcome runProgram(const std::wstring& switches, const char* fail = "", const std::filesystem::path& program = kProgram) {
  const std::filesystem::path record = std::filesystem::temp_directory_path() / "brindle-stand-in-calls.txt";
  std::error_code ignored;
  std::filesystem::remove(record, ignored);
  SetEnvironmentVariableW(L"BRINDLE_STAND_IN_RECORD", record.c_str());
  SetEnvironmentVariableA("BRINDLE_STAND_IN_FAIL", *fail != 0 ? fail : nullptr);

  Outcome result;
  testsupport::ChildProcess child;
  if (child.startCapturingOutput(L"\"" + program.wstring() + L"\" " + switches)) {
    result.exitCode = child.wait(30000);
    result.output = child.output();
  }
  std::istringstream lines(contentsOf(record));
  for (std::string line; std::getline(lines, line);) result.calls.push_back(line);
  std::filesystem::remove(record, ignored);
  return result;
}

const std::string kCreate =
    "MFCreateVirtualCamera type=0 lifetime=1 access=1 name=Orvik "
    "source={EFA3B694-F577-422B-BCE5-F3553CF9D409} categories=null count=0";
const std::string kNotHere =
    "[VirtualCamera] this Windows has no virtual cameras (no MFCreateVirtualCamera in mfsensorgroup.dll: "
    "Windows 10 or earlier); nothing to ";

// Slots 36, 38 and 43 are Start, Remove and Shutdown in the documented order of the methods.
TEST(VirtualCameraRegistrationTest, RegisterStartsTheSystemWideCameraAndUnregisterRemovesIt) {
  StandInInSystem32 standIn;
  ASSERT_TRUE(standIn.placed()) << "could not place the stand-in in System32";

  Outcome registered = runProgram(L"--register-camera");
  EXPECT_EQ(registered.exitCode, 0) << registered.output;
  EXPECT_EQ(registered.output, "[VirtualCamera] registered the Media Foundation camera \"Orvik\" for every user\n");
  EXPECT_EQ(registered.calls,
            (std::vector<std::string>{kCreate, "slot 36 Start callback=null", "slot 43 Shutdown", "released"}));

  Outcome removed = runProgram(L"--unregister-camera");
  EXPECT_EQ(removed.exitCode, 0) << removed.output;
  EXPECT_EQ(removed.output, "[VirtualCamera] removed the Media Foundation camera \"Orvik\"\n");
  EXPECT_EQ(removed.calls, (std::vector<std::string>{kCreate, "slot 38 Remove", "slot 43 Shutdown", "released"}));
}

TEST(VirtualCameraRegistrationTest, AFailureEndsWithCodeOneAndNamesTheCallAndItsResult) {
  StandInInSystem32 standIn;
  ASSERT_TRUE(standIn.placed()) << "could not place the stand-in in System32";

  // Not an administrator: the camera object is still shut down and released.
  Outcome startFails = runProgram(L"--register-camera", "Start 0x80070005");
  EXPECT_EQ(startFails.exitCode, 1);
  EXPECT_EQ(startFails.output,
            "[VirtualCamera] registering the camera \"Orvik\" failed: IMFVirtualCamera::Start returned 0x80070005\n");
  EXPECT_EQ(startFails.calls,
            (std::vector<std::string>{kCreate, "slot 36 Start callback=null", "slot 43 Shutdown", "released"}));

  Outcome removeFails = runProgram(L"--unregister-camera", "Remove 0x80004005");
  EXPECT_EQ(removeFails.exitCode, 1);
  EXPECT_NE(removeFails.output.find("IMFVirtualCamera::Remove returned 0x80004005"), std::string::npos) << removeFails.output;

  Outcome createFails = runProgram(L"--unregister-camera", "MFCreateVirtualCamera 0x8007000E");
  EXPECT_EQ(createFails.exitCode, 1);
  EXPECT_EQ(createFails.output,
            "[VirtualCamera] removing the camera \"Orvik\" failed: MFCreateVirtualCamera returned 0x8007000E\n");
  EXPECT_EQ(createFails.calls, std::vector<std::string>{kCreate});

  // Even a failing Shutdown after a good Start is reported, not taken for success.
  Outcome shutdownFails = runProgram(L"--register-camera", "Shutdown 0x80004005");
  EXPECT_EQ(shutdownFails.exitCode, 1);
  EXPECT_NE(shutdownFails.output.find("IMFVirtualCamera::Shutdown returned 0x80004005"), std::string::npos)
      << shutdownFails.output;
}

// As on Windows 10, whose mfsensorgroup.dll has no MFCreateVirtualCamera, and where there is none
// in System32 at all: both switches succeed with a line saying there is nothing to do. A
// mfsensorgroup.dll beside the program is not loaded (only System32 is searched).
TEST(VirtualCameraRegistrationTest, WithoutVirtualCamerasBothSwitchesSayThereIsNothingToDo) {
  {
    StandInInSystem32 windows10(kWindows10);
    ASSERT_TRUE(windows10.placed()) << "could not place the stand-in in System32";
    for (const wchar_t* command : {L"--register-camera", L"--unregister-camera"}) {
      Outcome outcome = runProgram(command);
      EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
      EXPECT_EQ(outcome.output.rfind(kNotHere, 0), 0u) << outcome.output;
    }
  }

  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "brindle-planted-sensor-group";
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::create_directories(folder);
  const std::filesystem::path program = folder / kProgram.filename();
  ASSERT_TRUE(CopyFileW(kProgram.c_str(), program.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(kStandIn.c_str(), (folder / L"mfsensorgroup.dll").c_str(), FALSE));

  Outcome registered = runProgram(L"--register-camera", "", program);
  EXPECT_EQ(registered.exitCode, 0);
  EXPECT_EQ(registered.output, kNotHere + "register\n");
  EXPECT_TRUE(registered.calls.empty()) << "the planted DLL was loaded";

  Outcome removed = runProgram(L"--unregister-camera", "", program);
  EXPECT_EQ(removed.exitCode, 0);
  EXPECT_EQ(removed.output, kNotHere + "remove\n");
  EXPECT_TRUE(removed.calls.empty()) << "the planted DLL was loaded";

  // Anything else is refused at once, without a window.
  for (const wchar_t* args : {L"--register", L"--register-camera --unregister-camera"}) {
    Outcome refused = runProgram(args, "", program);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.output,
              "[Program] unknown arguments: the only ones are --register-camera and --unregister-camera\n");
  }
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace
