# The README's main job: upgrade Firmware_1 with the image in /rig/data and
# let the guest restart.
# rig: restart
image=$(ls /rig/data/* | head -n 1)
echo "== reflasher $image (on the emulated device)"
reflasher "$image"
echo "not ok - reflasher returned $? instead of restarting the device"
