#!/usr/bin/env bash
# The library's save folder moved away while the popover offers its
# screenshots: "Add Screenshots" ends at a message that says the folder cannot
# be read and why; with the folder back, "Try Again" indexes it.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray

lib="$SYS_TMP/shots"
mkdir -p "$lib"
for i in 1 2 3 4 5; do
  convert -size 200x80 xc:"hsl($((i * 40)),70%,70%)" "$lib/Screenshot 2024-03-05 at 15.00.0$i.png"
done
sys_library_on "$lib"
sys_app_in_tray

# The popover's text as tesseract reads it (enlarged, so small type reads well).
popover_text() {
  sys_screenshot "$SYS_TMP/popover.png"
  convert "$SYS_TMP/popover.png" -crop 380x580+$cx+$cy +repage -resize 300% "$SYS_TMP/popover-big.png"
  sys_ocr "$SYS_TMP/popover-big.png" | tr '\n' ' '
}
sys_click_tray_icon
sys_wait_for --timeout 5 sys_library_popover_shown || fail "the tray click opened no library popover"
cx=$((px + 6)); cy=$((py + 6))  # the library view's top-left
offered() { popover_text | grep -q 'pre-existing'; }
sys_wait_for --timeout 10 offered || fail "no offer of the five screenshots: $(popover_text)"

sys_own "$lib" "$lib-away"
mv -T "$lib" "$lib-away"
sys_click $((cx + 190)) $((cy + 397))  # Add Screenshots
says() { popover_text | grep -q "$1"; }
sys_wait_for --timeout 10 says "read the folder" || true
text=$(popover_text)
grep -q "read the folder" <<<"$text" || fail "no message after Add Screenshots with the folder gone: $text"
grep -q "No such file" <<<"$text" || fail "the message does not say why: $text"
grep -q "Preparing" <<<"$text" && fail "still preparing to index: $text"

mv -T "$lib-away" "$lib"
sys_click $((cx + 190)) $((cy + 397))  # Try Again
sys_wait_for --timeout 20 bash -c "[ -f '$lib/imagelib.kxdb' ] && [ \$(wc -l <'$lib/imagelib.kxdb') -ge 5 ]" \
  || fail "the screenshots were not indexed once the folder was back: $(popover_text)"
sys_wait_for --timeout 10 says "5 images" || true
text=$(popover_text)
grep -q "5 images" <<<"$text" || fail "the status line does not count the five: $text"
echo "an unreadable folder says why, and indexes once it is back"
