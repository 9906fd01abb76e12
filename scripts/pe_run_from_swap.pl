#!/usr/bin/perl
# Marks a Windows program to be run from the swap file when it is started
# from removable media or a network path (IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP,
# IMAGE_FILE_NET_RUN_FROM_SWAP): the system then copies the whole image in
# first, so taking the disk out (the installer asks for the next disk of a
# volume set) cannot fault a page of the running program. The GNU linker has
# no option for these flags. The image checksum is computed again.
#
# Usage: perl scripts/pe_run_from_swap.pl PROGRAM.exe
use strict;
use warnings;

my $path = shift or die "usage: $0 PROGRAM.exe\n";
open(my $in, '<:raw', $path) or die "$path: $!\n";
my $image = do { local $/; <$in> };
close($in);

die "$path: not a PE image\n" if length($image) < 0x40 || substr($image, 0, 2) ne 'MZ';
my $pe = unpack('V', substr($image, 0x3C, 4));
die "$path: not a PE image\n" if $pe + 24 + 68 > length($image) || substr($image, $pe, 4) ne "PE\0\0";

my $characteristics_at = $pe + 4 + 18;   # COFF header: Characteristics
my $checksum_at = $pe + 24 + 64;         # optional header: CheckSum (PE32 and PE32+)
my $flags = unpack('v', substr($image, $characteristics_at, 2));
substr($image, $characteristics_at, 2) = pack('v', $flags | 0x0400 | 0x0800);

# The PE checksum: 16-bit one's-complement-style sum of the file with the
# checksum field taken as zero, plus the file's length.
substr($image, $checksum_at, 4) = pack('V', 0);
my $padded = length($image) % 2 ? $image . "\0" : $image;
my $sum = 0;
$sum += $_ for unpack('v*', $padded);
$sum = ($sum & 0xFFFF) + ($sum >> 16) while $sum > 0xFFFF;
substr($image, $checksum_at, 4) = pack('V', $sum + length($image));

open(my $out, '>:raw', "$path.tmp") or die "$path.tmp: $!\n";
print $out $image or die "$path.tmp: $!\n";
close($out) or die "$path.tmp: $!\n";
chmod((stat($path))[2] & 07777, "$path.tmp") or die "$path.tmp: $!\n";
rename("$path.tmp", $path) or die "$path: $!\n";
