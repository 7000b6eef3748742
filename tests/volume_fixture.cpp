#include "tests/volume_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

}  // namespace

const char* VolumeKindName(VolumeKind kind) {
  static const char* const kNames[] = {"fat32", "exfat", "ntfs", "ntfs-windows", "share"};
  return kNames[static_cast<int>(kind)];
}

bool ScratchVolume::Mount(VolumeKind kind, const fs::path& scratch, std::string* why) {
  // The script says why it cannot: no /dev/fuse, a tool missing, a mount refused.
  kind_ = kind;
  scratch_ = scratch;
  const bool share = kind == VolumeKind::kShare;
  const ScriptResult result =
      RunScript(share ? "share-start " + Quoted(scratch.string()) + " " + std::to_string(FreePort())
                      : std::string("mount ") + VolumeKindName(kind) + " " +
                            Quoted((scratch / "volume.img").string()) + " " +
                            Quoted((scratch / "mnt").string()));
  pid_ = PidOf(result, share ? "smbnetfs_pid" : "pid");
  path_ = scratch / "mnt";
  if (share) path_ = result.values.count("path") != 0 ? result.values.at("path") : "";
  if (result.exit != 0 || pid_ == 0 || path_.empty()) {
    *why = std::string("no ") + VolumeKindName(kind) + " volume: " + result.text;
    if (share) RunScript("share-stop " + Quoted(scratch.string()));
    pid_ = 0;
    return false;
  }
  return true;
}

bool ScratchVolume::Unmount() {
  if (pid_ == 0) return true;
  if (RunScript(kind_ == VolumeKind::kShare
                    ? "share-stop " + Quoted(scratch_.string())
                    : "unmount " + Quoted(path_.string()) + " " + std::to_string(pid_))
          .exit != 0) {
    return false;
  }
  pid_ = 0;
  return true;
}

bool ScratchVolume::StopServer() {
  return RunScript("server-stop " + Quoted(scratch_.string())).exit == 0;
}

bool ScratchVolume::StartServer() {
  const ScriptResult result = RunScript("server-start " + Quoted(scratch_.string()));
  return result.exit == 0 && PidOf(result, "smbd_pid") != 0;
}

void VolumeWalkTest::UseVolume(VolumeKind kind) {
  std::string why;
  if (!volume.Mount(kind, scratch, &why)) GTEST_SKIP() << why;
  dst = volume.path() / "backup";
  fs::create_directory(dst);
}
