#!/usr/bin/perl
# Writes a benchmark tree. Usage:
#   make_tree.pl A DIR   100,000 files of 1 to 16 KiB in 10 x 10 x 10 folders of 100
#   make_tree.pl B DIR   20,000 files of 1 to 16 KiB in one folder
#   make_tree.pl C DIR   4 files of 256 MiB
# Contents come from a fixed seed, so every run measures the same bytes.
use strict;
use warnings;

my ($kind, $root) = @ARGV;
die "usage: $0 A|B|C DIR\n" unless $kind && $root;
mkdir $root;
srand(1234);
my $block = join '', map { chr(int(rand(256))) } 1 .. 65536;

sub write_file {
  my ($path, $size) = @_;
  open my $out, '>:raw', $path or die "$path: $!\n";
  while ($size > 0) {
    my $n = $size < length($block) ? $size : length($block);
    my $offset = int(rand(length($block) - $n + 1));
    print $out substr($block, $offset, $n);
    $size -= $n;
  }
  close $out or die "$path: $!\n";
}

sub small_size { return 1024 * (1 + int(rand(16))) }

if ($kind eq 'A') {
  for my $a (0 .. 9) {
    mkdir "$root/d$a";
    for my $b (0 .. 9) {
      mkdir "$root/d$a/d$b";
      for my $c (0 .. 9) {
        my $dir = "$root/d$a/d$b/d$c";
        mkdir $dir;
        write_file("$dir/f$_.dat", small_size()) for 0 .. 99;
      }
    }
  }
} elsif ($kind eq 'B') {
  write_file("$root/f$_.dat", small_size()) for 0 .. 19999;
} elsif ($kind eq 'C') {
  write_file("$root/big$_.dat", 256 * 1024 * 1024) for 0 .. 3;
} else {
  die "unknown tree $kind\n";
}
