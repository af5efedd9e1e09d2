# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The architectures the kernel modules are built for and booted on, a row
# each: another port is another row. Sourced by kernels.sh, which fetches a
# series' kernel for one of them, and by tests/kernel_modules/vm.sh, which
# boots it. A kernel folder of another architecture than the host's x86-64
# is named <series>-<arch> and names it in its file "arch".
#
#   arch_of <kernel folder>     the folder's architecture (amd64 without "arch")
#   arch_field <arch> <field>   one field of the architecture's row; fails
#                               for an architecture without a row
# Fields (- for none):
#   cross    the prefix of the cross compilers that build its modules here
#            (the kernel's make takes it as CROSS_COMPILE)
#   qemu     qemu's system emulator for it
#   package  the Debian package that has that emulator
#   machine  qemu's options for the machine and processor
#   console  the guest's console device
#   logport  the guest's device for the second serial port, which carries
#            the kernel's log out
#   port     qemu's options that add that port, writing into @FILE@
#   libs     the root of its libraries, for dynamically linked programs
#            taken into a VM (- : this machine's, found by ldd)
# amd64's second port is the PC's second UART; the virt machine has one
# UART only, and a PCI one on it is the ttyS0 of Debian's arm64 kernels.
# Pointer authentication's architected cipher more than doubles the time of
# an arm64 boot under software emulation: the emulator's own is as good here.
arch_table='
arch  | cross              | qemu                | package         | machine                                     | console | logport | port                                                              | libs
amd64 | -                  | qemu-system-x86_64  | qemu-system-x86 | -accel tcg                                  | ttyS0   | ttyS1   | -serial file:@FILE@                                               | -
arm64 | aarch64-linux-gnu- | qemu-system-aarch64 | qemu-system-arm | -M virt -cpu max,pauth-impdef=on -accel tcg | ttyAMA0 | ttyS0   | -device pci-serial,chardev=klog -chardev file,id=klog,path=@FILE@ | /usr/aarch64-linux-gnu
'

arch_of() {
    if [ -f "$1/arch" ]; then cat "$1/arch"; else echo amd64; fi
}

arch_field() {
    awk -F'|' -v arch="$1" -v field="$2" '
        function trim(s) { gsub(/^ +| +$/, "", s); return s }
        NF > 1 && !names { for (i = 1; i <= NF; i++) column[trim($i)] = i; names = 1; next }
        NF > 1 && trim($1) == arch && column[field] { print trim($(column[field])); found = 1 }
        END { exit !found }' <<<"$arch_table"
}
