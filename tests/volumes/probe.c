// Asks a mounted volume what it keeps and what it refuses, as one line per
// fact: "key: value". Errors are printed by their errno names.
//   probe DIR all     names, metadata, times, links, case, sparse, trash
//   probe DIR keep    leaves files with known times in DIR/keep
//   probe DIR check   reads them back (after a remount)
//   probe DIR hold    opens DIR/keep/held, waits for a line on stdin (the
//                     volume is made to go away meanwhile), then tries it
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static const char* dir;

static const char* E(int ok) {
  static char buf[8][64];
  static int next;
  char* b = buf[next++ % 8];
  if (ok) return "ok";
  snprintf(b, 64, "%s", strerrorname_np(errno) ? strerrorname_np(errno) : "?");
  return b;
}

static char* P(const char* name) {
  static char buf[8][PATH_MAX];
  static int next;
  char* b = buf[next++ % 8];
  snprintf(b, PATH_MAX, "%s/%s", dir, name);
  return b;
}

static int make_file(const char* name, const char* content) {
  int fd = open(P(name), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) return 0;
  if (content) write(fd, content, strlen(content));
  return close(fd) == 0;
}

static const char* read_file(const char* name) {
  static char buf[64];
  int fd = open(P(name), O_RDONLY);
  if (fd < 0) return E(0);
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  buf[n < 0 ? 0 : n] = 0;
  return buf;
}

// The names in the folder that equal name ignoring case, joined by '|'.
static const char* listed(const char* name) {
  static char out[1024];
  out[0] = 0;
  DIR* d = opendir(dir);
  if (!d) return E(0);
  struct dirent* e;
  while ((e = readdir(d))) {
    if (strcasecmp(e->d_name, name) == 0 ||
        (strlen(name) > 3 && strncmp(e->d_name, name, 3) == 0)) {
      if (out[0]) strcat(out, "|");
      strncat(out, e->d_name, sizeof out - strlen(out) - 3);
    }
  }
  closedir(d);
  return out[0] ? out : "(none)";
}

// A client that drops its connection after a refused name (smbnetfs) answers
// again some seconds later: each case starts on a folder that answers.
static double settle(void) {
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (int i = 0; i < 200; i++) {
    DIR* d = opendir(dir);
    if (d) {
      closedir(d);
      clock_gettime(CLOCK_MONOTONIC, &now);
      return (now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
    }
    usleep(100000);
  }
  return -1;
}

static void show_name(const char* key, const char* name) {
  char shown[80];
  snprintf(shown, sizeof shown, "%s", key);
  int fd = open(P(name), O_CREAT | O_EXCL | O_WRONLY, 0644);
  const char* create = E(fd >= 0);
  const char* seen = fd >= 0 ? listed(name) : "-";
  char seen_copy[128];
  snprintf(seen_copy, sizeof seen_copy, "%s", strlen(seen) > 40 ? "(long name listed)" : seen);
  if (fd >= 0) {
    close(fd);
    unlink(P(name));
  }
  double down = settle();
  const char* md = E(mkdir(P(name), 0755) == 0);
  rmdir(P(name));
  down += settle();
  make_file("rename-src", "r");
  const char* rn = E(rename(P("rename-src"), P(name)) == 0);
  unlink(P(name));
  unlink(P("rename-src"));
  down += settle();
  printf("name %-14s create=%s mkdir=%s rename=%s listed=%s", shown, create, md, rn, seen_copy);
  if (down > 0.5) printf(" (folder unanswering %.1f s after)", down);
  printf("\n");
}

static void names(void) {
  char n255[256], n300[301];
  memset(n255, 'n', 255);
  n255[255] = 0;
  memset(n300, 'n', 300);
  n300[300] = 0;
  show_name("a:b.txt", "a:b.txt");
  show_name("star*.txt", "star*.txt");
  show_name("what?.txt", "what?.txt");
  show_name("CON", "CON");
  show_name("aux.txt", "aux.txt");
  show_name("'trailing.'", "trailing.");
  show_name("'trailing '", "trailing ");
  show_name("q\"<>|\\.txt", "q\"<>|\\.txt");
  show_name("255-byte", n255);
  show_name("300-byte", n300);
  show_name("é.txt", "\xc3\xa9.txt");
  show_name("Кириллица.txt", "Кириллица.txt");
  show_name("emoji😀.txt", "emoji\xf0\x9f\x98\x80.txt");
}

static void metadata(void) {
  make_file("meta", "m");
  int fd = open(P("meta"), O_WRONLY);
  printf("fchmod(0640)=%s ", E(fchmod(fd, 0640) == 0));
  printf("fchown(1234)=%s ", E(fchown(fd, 1234, 1234) == 0));
  struct timespec t[2] = {{1700000001, 0}, {1700000001, 0}};
  printf("futimens=%s ", E(futimens(fd, t) == 0));
  close(fd);
  printf("chmod(0600)=%s ", E(chmod(P("meta"), 0600) == 0));
  printf("chown(1234)=%s ", E(chown(P("meta"), 1234, 1234) == 0));
  printf("utimensat=%s ", E(utimensat(AT_FDCWD, P("meta"), t, 0) == 0));
  struct stat st;
  stat(P("meta"), &st);
  printf("mode=%o uid=%d\n", st.st_mode & 07777, st.st_uid);
  unlink(P("meta"));
}

static void show_time(const char* label, const struct stat* st) {
  printf("%s mtime=%lld.%09ld atime=%lld.%09ld", label, (long long)st->st_mtim.tv_sec,
         st->st_mtim.tv_nsec, (long long)st->st_atim.tv_sec, st->st_atim.tv_nsec);
}

// Sets t on a new file by its open descriptor (then closes) or by path after
// closing, and prints what is read back.
static void one_time(const char* how, struct timespec t) {
  struct timespec both[2] = {t, t};
  struct stat st;
  make_file("time", NULL);
  int fd = open(P("time"), O_WRONLY);
  write(fd, "12345", 5);
  if (strcmp(how, "fd") == 0) {
    int ok = futimens(fd, both) == 0;
    fstat(fd, &st);
    printf("time %-4s set=%lld.%09ld call=%s", how, (long long)t.tv_sec, t.tv_nsec, E(ok));
    show_time(" before-close", &st);
    close(fd);
  } else {
    close(fd);
    int ok = utimensat(AT_FDCWD, P("time"), both, 0) == 0;
    printf("time %-4s set=%lld.%09ld call=%s", how, (long long)t.tv_sec, t.tv_nsec, E(ok));
  }
  stat(P("time"), &st);
  show_time(" after-close", &st);
  // A rename, as a copy placed through a temporary name.
  rename(P("time"), P("time2"));
  stat(P("time2"), &st);
  show_time(" after-rename", &st);
  printf("\n");
  unlink(P("time2"));
}

static void times_(void) {
  struct timespec odd = {1700000001, 123456789};  // winter, odd second
  struct timespec even = {1700000002, 500000000};
  struct timespec summer = {1690000001, 987654321};  // summer time in Europe
  one_time("fd", odd);
  one_time("path", odd);
  one_time("fd", even);
  one_time("path", even);
  one_time("path", summer);
}

static void links(void) {
  int fd = open(dir, O_TMPFILE | O_WRONLY, 0600);
  printf("O_TMPFILE=%s", E(fd >= 0));
  if (fd >= 0) {
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    printf(" linkat(proc)=%s", E(linkat(AT_FDCWD, self, AT_FDCWD, P("tmpfile"), AT_SYMLINK_FOLLOW) == 0));
    close(fd);
    unlink(P("tmpfile"));
  }
  make_file("link-src", "l");
  printf(" link=%s", E(link(P("link-src"), P("link-dst")) == 0));
  unlink(P("link-dst"));
  unlink(P("link-src"));
  printf(" symlink=%s\n", E(symlink("target", P("sym")) == 0));
  unlink(P("sym"));

  make_file("over-x", "x");
  make_file("over-y", "y");
  const char* over = E(rename(P("over-x"), P("over-y")) == 0);
  printf("rename-over-existing=%s content=%s\n", over, read_file("over-y"));
  unlink(P("over-x"));
  unlink(P("over-y"));
  mkdir(P("dover-x"), 0755);
  mkdir(P("dover-y"), 0755);
  printf("rename-dir-over-empty-dir=%s\n", E(rename(P("dover-x"), P("dover-y")) == 0));
  rmdir(P("dover-x"));
  rmdir(P("dover-y"));
}

static void case_(void) {
  struct stat a, b;
  make_file("A.txt", "upper");
  int sa = stat(P("A.txt"), &a);
  int sb = stat(P("a.txt"), &b);
  struct stat again;
  stat(P("A.txt"), &again);
  printf("case stat(A.txt)=%s stat(a.txt)=%s A.txt-ino-stable=%s", E(sa == 0), E(sb == 0),
         again.st_ino == a.st_ino ? "yes" : "no");
  if (sa == 0 && sb == 0)
    printf(" same-entry=%s (ino %llu/%llu dev %llu/%llu)",
           a.st_ino == b.st_ino && a.st_dev == b.st_dev ? "yes" : "no",
           (unsigned long long)a.st_ino, (unsigned long long)b.st_ino,
           (unsigned long long)a.st_dev, (unsigned long long)b.st_dev);
  int fd = open(P("a.txt"), O_CREAT | O_EXCL | O_WRONLY, 0644);
  printf(" create-excl(a.txt)=%s", E(fd >= 0));
  if (fd >= 0) close(fd);
  fd = open(P("a.txt"), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  printf(" create-trunc(a.txt)=%s", E(fd >= 0));
  if (fd >= 0) {
    write(fd, "lower", 5);
    close(fd);
  }
  printf(" then listed=%s A.txt-holds=%s\n", listed("a.txt"), read_file("A.txt"));
  unlink(P("a.txt"));
  unlink(P("A.txt"));
  unlink(P("a.txt"));

  mkdir(P("Docs"), 0755);
  printf("case mkdir(docs beside Docs)=%s", E(mkdir(P("docs"), 0755) == 0));
  rmdir(P("docs"));
  rmdir(P("Docs"));
  rmdir(P("docs"));
  make_file("Report.docx", "report");
  stat(P("Report.docx"), &a);
  int ok = rename(P("Report.docx"), P("report.docx")) == 0;
  printf(" case-only-rename=%s", E(ok));
  printf(" listed=%s", listed("report.docx"));
  if (stat(P("report.docx"), &b) == 0)
    printf(" same-ino=%s", a.st_ino == b.st_ino ? "yes" : "no");
  printf("\n");
  unlink(P("report.docx"));
  unlink(P("Report.docx"));
}

static void sparse(void) {
  int fd = open(P("sparse"), O_CREAT | O_RDWR | O_TRUNC, 0644);
  pwrite(fd, "x", 1, 8 << 20);
  fsync(fd);
  struct stat st;
  fstat(fd, &st);
  off_t data = lseek(fd, 0, SEEK_DATA);
  const char* de = E(data >= 0);
  off_t hole = lseek(fd, 0, SEEK_HOLE);
  const char* he = E(hole >= 0);
  printf("sparse size=%lld allocated=%lld SEEK_DATA(0)=%lld(%s) SEEK_HOLE(0)=%lld(%s)\n",
         (long long)st.st_size, (long long)st.st_blocks * 512, (long long)data, de,
         (long long)hole, he);
  close(fd);
  unlink(P("sparse"));
}

static void listing(void) {
  make_file("entry-file", "f");
  mkdir(P("entry-dir"), 0755);
  DIR* d = opendir(dir);
  struct dirent* e;
  int dots = 0;
  if (!d) {
    printf("readdir opendir=%s\n", E(0));
    return;
  }
  while ((e = readdir(d))) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) dots++;
    if (strncmp(e->d_name, "entry-", 6) != 0) continue;
    struct stat st;
    stat(P(e->d_name), &st);
    printf("readdir %s d_type=%d d_ino=%llu st_ino=%llu ", e->d_name, e->d_type,
           (unsigned long long)e->d_ino, (unsigned long long)st.st_ino);
  }
  printf("dot-entries=%d\n", dots);
  closedir(d);
  unlink(P("entry-file"));
  rmdir(P("entry-dir"));
}

static void volume(void) {
  struct statfs sf;
  statfs(dir, &sf);
  printf("statfs f_type=0x%lx f_namelen=%ld f_bsize=%ld\n", (long)sf.f_type, (long)sf.f_namelen,
         (long)sf.f_bsize);
  char real[PATH_MAX];
  realpath(dir, real);
  FILE* m = fopen("/proc/self/mountinfo", "r");
  char line[4096], best[4096] = "";
  size_t best_len = 0;
  while (fgets(line, sizeof line, m)) {
    char point[PATH_MAX];
    if (sscanf(line, "%*s %*s %*s %*s %s", point) != 1) continue;
    size_t n = strlen(point);
    if (strncmp(real, point, n) == 0 && (real[n] == '/' || real[n] == 0 || n == 1) &&
        n >= best_len) {
      best_len = n;
      snprintf(best, sizeof best, "%s", strstr(line, " - ") ? strstr(line, " - ") + 3 : line);
    }
  }
  fclose(m);
  printf("mountinfo (fstype source options): %s", best);
}

static int trash_dir_exists(void) {
  char top[PATH_MAX];
  snprintf(top, sizeof top, "%s/.Trash-0", dir);
  struct stat st;
  if (stat(top, &st) == 0) return 1;
  snprintf(top, sizeof top, "%s/../.Trash-0", dir);
  return stat(top, &st) == 0 ? 2 : 0;
}

static void trash(void) {
  setenv("GIO_USE_VFS", "local", 1);
  make_file("trash-me", "t");
  GFile* f = g_file_new_for_path(P("trash-me"));
  GError* err = NULL;
  gboolean ok = g_file_trash(f, NULL, &err);
  struct stat st;
  int still = stat(P("trash-me"), &st) == 0;
  printf("g_file_trash=%s", ok ? "ok" : "failed");
  if (!ok)
    printf(" domain=%s code=%d message=\"%s\"", g_quark_to_string(err->domain), err->code,
           err->message);
  printf(" file-still-there=%s .Trash-0=%s\n", still ? "yes" : "no",
         trash_dir_exists() == 1 ? "in folder" : trash_dir_exists() == 2 ? "in parent" : "none");
  if (err) g_error_free(err);
  g_object_unref(f);
  unlink(P("trash-me"));
}

static void keep(void) {
  dir = P("keep");
  mkdir(dir, 0755);
  struct timespec winter[2] = {{1700000002, 0}, {1700000002, 0}};
  struct timespec summer[2] = {{1690000002, 0}, {1690000002, 0}};
  make_file("winter", "w");
  make_file("summer", "s");
  make_file("held", "held content");
  utimensat(AT_FDCWD, P("winter"), winter, 0);
  utimensat(AT_FDCWD, P("summer"), summer, 0);
}

static void check(void) {
  dir = P("keep");
  const char* names[] = {"winter", "summer", "held"};
  for (int i = 0; i < 3; i++) {
    struct stat st;
    if (stat(P(names[i]), &st) != 0) {
      printf("keep %s stat=%s\n", names[i], E(0));
      continue;
    }
    printf("keep %s ino=%llu mtime=%lld (%+lld s from set)\n", names[i],
           (unsigned long long)st.st_ino, (long long)st.st_mtim.tv_sec,
           i == 0   ? (long long)st.st_mtim.tv_sec - 1700000002
           : i == 1 ? (long long)st.st_mtim.tv_sec - 1690000002
                    : 0LL);
  }
}

static void hold(void) {
  dir = P("keep");
  int fd = open(P("held"), O_RDWR);
  printf("held open=%s\n", E(fd >= 0));
  fflush(stdout);
  char line[16];
  if (!fgets(line, sizeof line, stdin)) return;
  char buf[8];
  struct stat st;
  printf("gone fd: read=%s ", E(pread(fd, buf, 4, 0) >= 0));
  printf("write=%s ", E(pwrite(fd, "x", 1, 0) >= 0));
  printf("fstat=%s ", E(fstat(fd, &st) == 0));
  printf("close=%s\n", E(close(fd) == 0));
  printf("gone path: stat(file)=%s ", E(stat(P("held"), &st) == 0));
  printf("stat(top)=%s ", E(stat(dir, &st) == 0));
  DIR* d = opendir(dir);
  printf("opendir=%s ", E(d != NULL));
  if (d) closedir(d);
  int f2 = open(P("held"), O_RDONLY);
  printf("open=%s ", E(f2 >= 0));
  if (f2 >= 0) close(f2);
  f2 = open(P("new"), O_CREAT | O_WRONLY, 0644);
  printf("create=%s ", E(f2 >= 0));
  if (f2 >= 0) close(f2);
  printf("rename=%s\n", E(rename(P("held"), P("held2")) == 0));
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  setvbuf(stdout, NULL, _IOLBF, 0);
  dir = argv[1];
  const char* what = argv[2];
  if (strcmp(what, "keep") == 0) {
    keep();
  } else if (strcmp(what, "check") == 0) {
    check();
  } else if (strcmp(what, "hold") == 0) {
    hold();
  } else {
    volume();
    names();
    metadata();
    times_();
    links();
    sparse();
    listing();
    trash();
    case_();  // last: a FAT driver hangs on removing a file renamed in case only
  }
  return 0;
}
