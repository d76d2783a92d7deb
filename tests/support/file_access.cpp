#include "file_access.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr unsigned kOverrides =
    (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

bool capabilities(__user_cap_data_struct* data, bool set) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

}  // namespace

WithoutFileOverride::WithoutFileOverride() {
  if (::geteuid() != 0) return;  // an ordinary user meets the checks anyway
  __user_cap_data_struct data[2] = {};
  if (!capabilities(data, false)) {
    ok_ = false;
    return;
  }
  saved_[0] = data[0].effective;
  saved_[1] = data[1].effective;
  data[0].effective &= ~kOverrides;
  ok_ = dropped_ = capabilities(data, true);
}

WithoutFileOverride::~WithoutFileOverride() {
  if (!dropped_) return;
  __user_cap_data_struct data[2] = {};
  if (!capabilities(data, false)) return;
  data[0].effective = saved_[0];
  data[1].effective = saved_[1];
  capabilities(data, true);
}
