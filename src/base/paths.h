// Every fixed path the program touches, in one place.
#pragma once

namespace paths {

inline constexpr char log_file[] = "/tmp/reflasher.log";
inline constexpr char tmp_dir[] = "/tmp";
inline constexpr char tmp_prefix[] = "/tmp/";
inline constexpr char staged_image[] = "/tmp/reflasher.img";
inline constexpr char dev_null[] = "/dev/null";

// The RAM tree that becomes "/" in stage two.
inline constexpr char ram_root[] = "/tmp/root";
inline constexpr char ram_sbin[] = "/tmp/root/sbin";
inline constexpr char staged_program[] = "/tmp/root/sbin/reflasher";
inline constexpr char self_exe[] = "/proc/self/exe";
inline constexpr char self_fd_dir[] = "/proc/self/fd";

// Partition table, sysfs and device nodes. The lookup routines take these
// as arguments so that tests can point them at fixture trees.
inline constexpr char proc_mtd[] = "/proc/mtd";
inline constexpr char sysfs_mtd_dir[] = "/sys/class/mtd";
inline constexpr char dev_dir[] = "/dev";
// UBI: its devices' sysfs class directory and its control device.
inline constexpr char sysfs_ubi_dir[] = "/sys/class/ubi";
inline constexpr char ubi_control[] = "/dev/ubi_ctrl";
// Block devices by number, for the mounts of ubiblock devices.
inline constexpr char sys_dev_block[] = "/sys/dev/block";

// The process's own view of the system.
inline constexpr char mountinfo[] = "/proc/self/mountinfo";
inline constexpr char meminfo[] = "/proc/meminfo";
inline constexpr char oom_score_adj[] = "/proc/self/oom_score_adj";
// The locks held through descriptor 9, where stage one hands over its
// claim of the device.
inline constexpr char claim_fdinfo[] = "/proc/self/fdinfo/9";

// Root switch: the directories of the RAM tree that the pivot and the
// mount moves need, and the same places after the pivot.
inline constexpr char diag_script[] = "/etc/diag.sh";
inline constexpr char drop_caches[] = "/proc/sys/vm/drop_caches";
inline constexpr char root[] = "/";
inline constexpr char proc[] = "/proc";
inline constexpr char ram_proc[] = "/tmp/root/proc";
inline constexpr char ram_put_old[] = "/tmp/root/mnt";
inline constexpr char ram_sys[] = "/tmp/root/sys";
inline constexpr char ram_dev[] = "/tmp/root/dev";
inline constexpr char ram_tmp[] = "/tmp/root/tmp";
// /proc/self/mountinfo while /proc lies in the RAM tree, before the pivot.
inline constexpr char ram_mountinfo[] = "/tmp/root/proc/self/mountinfo";
inline constexpr char old_root[] = "/mnt";
inline constexpr char old_sys[] = "/mnt/sys";
inline constexpr char old_dev[] = "/mnt/dev";
inline constexpr char old_tmp[] = "/mnt/tmp";
inline constexpr char sys[] = "/sys";

// Restart fallback.
inline constexpr char sysrq_enable[] = "/proc/sys/kernel/sysrq";
inline constexpr char sysrq_trigger[] = "/proc/sysrq-trigger";

} // namespace paths
