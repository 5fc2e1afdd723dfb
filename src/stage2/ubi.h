// UBI attached to the partition being written.
#pragma once

// UBI does not lock the MTD device: while it is attached it may erase and
// move blocks under the writer. Detaches every UBI device attached to MTD
// device `mtd_index`; one that cannot be detached (a volume still open)
// is reported in one line. Returns -1 when one was left attached, else 0.
int detach_ubi(int mtd_index);

// Inner form: UBI's sysfs class directory and control device.
int detach_ubi_in(const char *sysfs_dir, const char *control, int mtd_index);
