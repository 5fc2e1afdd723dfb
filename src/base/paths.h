// Every fixed path the program touches, in one place.
#pragma once

namespace paths {

constexpr const char log_file[] = "/tmp/reflasher.log";
constexpr const char tmp_prefix[] = "/tmp/";
constexpr const char staged_image[] = "/tmp/reflasher.img";

// The RAM tree that becomes "/" in stage two.
constexpr const char ram_root[] = "/tmp/root";
constexpr const char ram_sbin[] = "/tmp/root/sbin";
constexpr const char staged_program[] = "/tmp/root/sbin/reflasher";
constexpr const char self_exe[] = "/proc/self/exe";

// Partition table, sysfs and device nodes. The lookup routines take these
// as arguments so that tests can point them at fixture trees.
constexpr const char proc_mtd[] = "/proc/mtd";
constexpr const char sysfs_mtd_dir[] = "/sys/class/mtd";
constexpr const char dev_dir[] = "/dev";

// Root switch.
constexpr const char diag_script[] = "/etc/diag.sh";
constexpr const char drop_caches[] = "/proc/sys/vm/drop_caches";
constexpr const char proc[] = "/proc";
constexpr const char ram_proc[] = "/tmp/root/proc";
constexpr const char ram_put_old[] = "/tmp/root/mnt";
constexpr const char old_root[] = "/mnt";

// Restart fallback.
constexpr const char sysrq_enable[] = "/proc/sys/kernel/sysrq";
constexpr const char sysrq_trigger[] = "/proc/sysrq-trigger";

} // namespace paths
