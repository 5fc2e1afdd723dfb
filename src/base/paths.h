// Every fixed path the program touches, in one place.
#pragma once

namespace paths {

constexpr const char log_file[] = "/tmp/reflasher.log";
constexpr const char tmp_dir[] = "/tmp";
constexpr const char tmp_prefix[] = "/tmp/";
constexpr const char staged_image[] = "/tmp/reflasher.img";
constexpr const char dev_null[] = "/dev/null";

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
// UBI: its devices' sysfs class directory and its control device.
constexpr const char sysfs_ubi_dir[] = "/sys/class/ubi";
constexpr const char ubi_control[] = "/dev/ubi_ctrl";

// The process's own view of the system.
constexpr const char mountinfo[] = "/proc/self/mountinfo";
constexpr const char meminfo[] = "/proc/meminfo";
constexpr const char oom_score_adj[] = "/proc/self/oom_score_adj";
// The locks held through descriptor 9, where stage one hands over its
// claim of the device.
constexpr const char claim_fdinfo[] = "/proc/self/fdinfo/9";

// Root switch: the directories of the RAM tree that the pivot and the
// mount moves need, and the same places after the pivot.
constexpr const char diag_script[] = "/etc/diag.sh";
constexpr const char drop_caches[] = "/proc/sys/vm/drop_caches";
constexpr const char root[] = "/";
constexpr const char proc[] = "/proc";
constexpr const char ram_proc[] = "/tmp/root/proc";
constexpr const char ram_put_old[] = "/tmp/root/mnt";
constexpr const char ram_sys[] = "/tmp/root/sys";
constexpr const char ram_dev[] = "/tmp/root/dev";
constexpr const char ram_tmp[] = "/tmp/root/tmp";
// /proc/self/mountinfo while /proc lies in the RAM tree, before the pivot.
constexpr const char ram_mountinfo[] = "/tmp/root/proc/self/mountinfo";
constexpr const char old_root[] = "/mnt";
constexpr const char old_sys[] = "/mnt/sys";
constexpr const char old_dev[] = "/mnt/dev";
constexpr const char old_tmp[] = "/mnt/tmp";
constexpr const char sys[] = "/sys";

// Restart fallback.
constexpr const char sysrq_enable[] = "/proc/sys/kernel/sysrq";
constexpr const char sysrq_trigger[] = "/proc/sysrq-trigger";

} // namespace paths
