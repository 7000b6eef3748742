#include "tests/volume_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

// What a run of the script printed: its key=value lines, and the rest (the
// reason when it failed). exit is 0 when it succeeded.
struct ScriptResult {
  int exit = -1;
  std::map<std::string, std::string> values;
  std::string text;
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

ScriptResult RunScript(const std::string& arguments) {
  ScriptResult result;
  const std::string command = "bash " + Quoted(LARKSPAN_VOLUME_SCRIPT) + " " + arguments + " 2>&1";
  FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) {
    result.text = "cannot run " LARKSPAN_VOLUME_SCRIPT;
    return result;
  }
  char line[1024];
  while (std::fgets(line, sizeof line, out) != nullptr) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t equals = text.find('=');
    if (equals != std::string::npos && text.find(' ') > equals) {
      result.values[text.substr(0, equals)] = text.substr(equals + 1);
    } else {
      result.text += text + "\n";
    }
  }
  const int status = pclose(out);
  result.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

pid_t PidOf(const ScriptResult& result, const std::string& key) {
  const auto found = result.values.find(key);
  return found == result.values.end() ? 0 : static_cast<pid_t>(std::atol(found->second.c_str()));
}

// A port on 127.0.0.1 that nothing listens on now.
int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 4450;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 4450;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(s);
  return port;
}

// A driver that ended is not reaped by us (it is the script's child), so a
// zombie counts as gone.
bool Alive(pid_t pid) {
  FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (status == nullptr) return false;
  char line[256];
  bool alive = true;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "State:", 6) == 0) alive = std::strchr(line, 'Z') == nullptr;
  }
  std::fclose(status);
  return alive;
}

// Why this machine cannot mount through FUSE, or "" when it may.
std::string FuseMissing() {
  if (access("/dev/fuse", R_OK | W_OK) != 0) return "/dev/fuse is not there or not usable";
  return "";
}

}  // namespace

const char* VolumeKindName(VolumeKind kind) {
  switch (kind) {
    case VolumeKind::kFat32:
      return "fat32";
    case VolumeKind::kExfat:
      return "exfat";
    case VolumeKind::kNtfs:
      return "ntfs";
    case VolumeKind::kNtfsWindowsNames:
      return "ntfs-windows";
  }
  return "?";
}

bool ScratchVolume::Mount(VolumeKind kind, const fs::path& image, const fs::path& folder,
                          std::string* why) {
  *why = FuseMissing();
  if (!why->empty()) return false;
  const ScriptResult result = RunScript(std::string("mount ") + VolumeKindName(kind) + " " +
                                        Quoted(image.string()) + " " + Quoted(folder.string()));
  pid_ = PidOf(result, "pid");
  if (result.exit != 0 || pid_ == 0) {
    *why = std::string("no ") + VolumeKindName(kind) + " volume: " + result.text;
    pid_ = 0;
    return false;
  }
  folder_ = folder;
  return true;
}

bool ScratchVolume::Unmount() {
  if (pid_ == 0) return true;
  const ScriptResult result =
      RunScript("unmount " + Quoted(folder_.string()) + " " + std::to_string(pid_));
  if (result.exit != 0) return false;
  pid_ = 0;
  return true;
}

void ScratchVolume::Kill() {
  if (pid_ == 0) return;
  kill(pid_, SIGKILL);
  for (int i = 0; i < 100 && Alive(pid_); ++i)
    usleep(20000);
}

bool ScratchShare::Start(const fs::path& scratch, std::string* why) {
  *why = FuseMissing();
  if (!why->empty()) return false;
  const ScriptResult result =
      RunScript("share-start " + Quoted(scratch.string()) + " " + std::to_string(FreePort()));
  server_ = PidOf(result, "smbd_pid");
  client_ = PidOf(result, "smbnetfs_pid");
  scratch_ = scratch;
  if (result.exit != 0 || client_ == 0 || result.values.count("path") == 0) {
    *why = "no share: " + result.text;
    Stop();
    return false;
  }
  path_ = result.values.at("path");
  return true;
}

bool ScratchShare::StopServer() {
  server_ = 0;
  return RunScript("server-stop " + Quoted(scratch_.string())).exit == 0;
}

bool ScratchShare::StartServer() {
  const ScriptResult result = RunScript("server-start " + Quoted(scratch_.string()));
  server_ = PidOf(result, "smbd_pid");
  return result.exit == 0 && server_ != 0;
}

void ScratchShare::Stop() {
  if (scratch_.empty()) return;
  RunScript("share-stop " + Quoted(scratch_.string()));
  server_ = client_ = 0;
  scratch_.clear();
}

void VolumeWalkTest::UseVolume(VolumeKind kind) {
  std::string why;
  if (!volume.Mount(kind, temp.path() / "volume.img", temp.path() / "volume", &why)) {
    GTEST_SKIP() << why;
  }
  volume_root = temp.path() / "volume";
  dst = volume_root / "backup";
  fs::create_directory(dst);
}

void VolumeWalkTest::UseShare() {
  std::string why;
  if (!share.Start(temp.path() / "server", &why)) GTEST_SKIP() << why;
  volume_root = share.path();
  dst = volume_root / "backup";
  fs::create_directory(dst);
}
