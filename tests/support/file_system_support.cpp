// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/file_system_support.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vellomar::test {
namespace {

// The capabilities that let a process write, search or change files
// whatever their permission bits say.
constexpr int kOverrides[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER};

bool capabilities(__user_cap_data_struct (&data)[2], bool set) {
  __user_cap_header_struct header = {};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;  // this thread
  return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

}  // namespace

PermissionBitsHold::PermissionBitsHold() {
  __user_cap_data_struct data[2] = {};
  if (!capabilities(data, false)) {
    why_ = std::string("capget: ") + std::strerror(errno);
    return;
  }
  savedEffective_[0] = data[0].effective;
  savedEffective_[1] = data[1].effective;
  bool any = false;
  for (int cap : kOverrides) {
    any = any || (data[cap / 32].effective & (1u << (cap % 32))) != 0;
    data[cap / 32].effective &= ~(1u << (cap % 32));
  }
  if (!any) {
    holds_ = true;  // nothing to lower: an ordinary user
    return;
  }
  if (!capabilities(data, true)) {
    why_ = std::string("capset: ") + std::strerror(errno);
    return;
  }
  lowered_ = true;
  holds_ = true;
}

PermissionBitsHold::~PermissionBitsHold() {
  if (!lowered_) return;
  __user_cap_data_struct data[2] = {};
  if (!capabilities(data, false)) return;
  data[0].effective = savedEffective_[0];
  data[1].effective = savedEffective_[1];
  capabilities(data, true);
}

void dropPermissionOverridesForExec() {
  for (int cap : kOverrides) ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
}

TmpfsMount::TmpfsMount(const std::string& folder, const std::string& options) : folder_(folder) {
  if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
    mounted_ = true;
  } else {
    why_ = "cannot mount a tmpfs here (" + std::string(std::strerror(errno)) + "); mounting needs root";
  }
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

int useUpInodes(const std::string& folder) {
  int made = 0;
  for (;; ++made) {
    const std::string name = folder + "/filler-" + std::to_string(made);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return made;
    ::close(fd);
  }
}

}  // namespace vellomar::test
