# Sourced by run.sh and screenshot.sh: the demo project beside the Windows
# build's Larkspan.exe, and the program started on it under Wine.

demo_build=build/win64

# A few folders and files to back up, a backup holding one file the source
# lacks, and "Larkspan.lpj" with a Copy, a Mirror and a Sync job on them and a
# Move job left unticked. The paths are relative: they resolve against the
# executable's folder.
prepare_windows_demo() {
  local demo=$demo_build/demo
  rm -rf "$demo"
  mkdir -p "$demo/Documents/Letters" "$demo/Documents/Photos" "$demo/Backup/Letters" \
    "$demo/Notes" "$demo/Backup/Notes" "$demo/Inbox"
  local i
  for i in 1 2 3; do
    head -c $((i * 1048576 + 4096)) /dev/zero | tr '\0' "$i" >"$demo/Documents/Photos/photo-$i.jpg"
  done
  head -c 2200000 /dev/zero | tr '\0' b >"$demo/Documents/budget.xls"
  echo "Dear Ann," >"$demo/Documents/Letters/ann.txt"
  echo "Dear Bob," >"$demo/Documents/Letters/bob.txt"
  echo "An old draft" >"$demo/Backup/Letters/old-draft.txt"
  echo "Call the plumber" >"$demo/Notes/todo.txt"
  echo "Written on the laptop" >"$demo/Backup/Notes/laptop.txt"
  echo "Scanned receipt" >"$demo/Inbox/receipt.txt"
  {
    printf 'O,1,Copy,demo\\Documents,demo\\Backup\r\n'
    printf 'O,1,Mirror,demo\\Documents\\Letters,demo\\Backup\\Letters\r\n'
    printf 'O,1,Sync,demo\\Notes,demo\\Backup\\Notes\r\n'
    printf 'O,0,Move,demo\\Inbox,demo\\Backup\\Inbox\r\n'
    printf 'T,8,0,0\r\n'
  } >"$demo_build/Larkspan.lpj"
}

# The same with names in several scripts: accents, Cyrillic, Japanese and
# emoji, in folders, files and the project (UTF-8, as the program writes it).
# The last job that runs is the Move, into Sicherung\Urlaub-🏖.
prepare_windows_names_demo() {
  local demo=$demo_build/demo
  rm -rf "$demo"
  mkdir -p "$demo/Übung" "$demo/Фото" "$demo/写真" "$demo/Urlaub-🏖" "$demo/Sicherung/Übung" \
    "$demo/Sicherung/Urlaub-🏖" "$demo/Резерв/Фото" "$demo/バックアップ"
  echo "Ölfarbe auf Leinwand" >"$demo/Übung/Ölfarbe.txt"
  echo "Café, Menü, Crème brûlée" >"$demo/Übung/Café-Menü.txt"
  head -c 1200000 /dev/zero | tr '\0' e >"$demo/Фото/Ёлка.jpg"
  echo "Старое фото" >"$demo/Резерв/Фото/Старое.jpg"
  head -c 2300000 /dev/zero | tr '\0' t >"$demo/写真/東京タワー.jpg"
  echo "夏休み" >"$demo/写真/夏休み.txt"
  echo "メモ" >"$demo/バックアップ/メモ.txt"
  echo "Sonne 😀" >"$demo/Urlaub-🏖/emoji-😀.txt"
  {
    printf 'O,1,Copy,demo\\Übung,demo\\Sicherung\\Übung\r\n'
    printf 'O,1,Mirror,demo\\Фото,demo\\Резерв\\Фото\r\n'
    printf 'O,1,Sync,demo\\写真,demo\\バックアップ\r\n'
    printf 'O,1,Move,demo\\Urlaub-🏖,demo\\Sicherung\\Urlaub-🏖\r\n'
    printf 'T,3,0,0\r\n'
  } >"$demo_build/Larkspan.lpj"
}

# Starts Larkspan.exe under Wine with the build tree's own prefix, in the
# background; the process id is in larkspan_pid. The recycle bin of Wine
# goes to a trash folder inside the build tree.
start_windows_demo() {
  (
    cd "$demo_build"
    export XDG_DATA_HOME=$PWD/demo-trash
    exec ../../cmake/wine-run.sh ./Larkspan.exe
  ) &
  larkspan_pid=$!
}
