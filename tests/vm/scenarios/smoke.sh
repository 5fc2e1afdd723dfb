# The rig itself: partitions, sizes, erase sizes, types and bad blocks as
# laid out, and the program's -h and -T runs.

part_line() { grep -q "\"$1\"\$" /proc/mtd; }
attr() { cat "/sys/class/mtd/mtd$(mtd_index "$1")/$2"; }

for p in Firmware_1 U-Boot U-Config Firmware_2 Preloader Kernel_1 RootFS_1; do
    check "partition $p is listed" part_line "$p"
done
expect_eq "Firmware_1 size" 4194304 "$(attr Firmware_1 size)"
expect_eq "Firmware_1 erase size" "$EB_NOR" "$(attr Firmware_1 erasesize)"
expect_eq "Firmware_1 type (block2mtd: no bad blocks)" ram "$(attr Firmware_1 type)"
expect_eq "Firmware_2 size" 524288 "$(attr Firmware_2 size)"
expect_eq "Kernel_1 size" 2097152 "$(attr Kernel_1 size)"
expect_eq "Kernel_1 erase size" "$EB_NAND" "$(attr Kernel_1 erasesize)"
expect_eq "Kernel_1 type" nand "$(attr Kernel_1 type)"
expect_eq "Kernel_1 bad blocks" 3 "$(attr Kernel_1 bad_blocks)"
expect_eq "RootFS_1 size" 6029312 "$(attr RootFS_1 size)"
expect_eq "Preloader bad blocks" 0 "$(attr Preloader bad_blocks)"
check "device node of Kernel_1 exists" test -c "$(mtd_dev Kernel_1)"
expect_eq "Firmware_1 holds the host's pattern" "$(head -c 16 /dev/zero | tr '\000' '\021')" \
    "$(read_blocks Firmware_1 1 1 | head -c 16)"

run_rf -h
expect_eq "-h exits 0" 0 "$RF_RC"
check "-h prints the usage text" grep -q '^Usage: reflasher \[-T\] \[-F\] \[-q|-v\] \[--part NAME\] <image-file>$' /tmp/rf.err

make_image /tmp/fw.bin 100000
run_rf -T /tmp/fw.bin
expect_eq "-T with a fitting image exits 0" 0 "$RF_RC"
expect_file "-T prints the result on stdout" /tmp/rf.out "Image check passed.
"
