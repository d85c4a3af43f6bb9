#!/bin/sh
# vantor from start to close, as a person uses it: pastes into the card number field that are
# refused, search demo card 100, type a new balance and telephone number, save, confirm; a
# monitoring program posts 0xA0 to the window and gets its notification; close with Alt+F4;
# check the record on disk and the stored placement. Then again in English, from a placement
# low on the screen, where the card data dialog must still open whole.
#   vantor_e2e.sh VANTOR MAKE_DEMO ENGLISH_LX SCREENSHOT_DIR GORVEX_RECEIVER POST_WINDOW_MESSAGE
. "$(dirname "$0")/session.sh"
e2e_setup "$1" "$2" "$4"
cp "$3" "$data"
receiver_program=$5
post=$6
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# A 32-bit little-endian field of record INDEX at OFFSET, and its one-byte digit count.
field() { od -A n -t d4 -j $(($1 * 32 + $2)) -N 4 "${data}PREPAID.DAT" | tr -d ' '; }
byte() { od -A n -t u1 -j $(($1 * 32 + $2)) -N 1 "${data}PREPAID.DAT" | tr -d ' '; }
index=9  # card 100

e2e_start vantor
main=$(e2e_window "Set Prepaid")
e2e_shot vantor-main
xdotool type --delay 40 "100"
# Pastes are checked as a whole, as typed keys are: "1 005" from the clipboard (Ctrl+V,
# Shift+Insert) and "9x" from the primary selection (middle button, on the field) change
# nothing, so the search below finds card 100, not card 1.
printf '1 005' | xclip -selection clipboard
xdotool key ctrl+a ctrl+v shift+Insert
printf '9x' | xclip -selection primary
xdotool mousemove --window "$main" 150 35 click 2
e2e_shot vantor-refused-paste
xdotool key Return
dialog=$(e2e_window "Karten-Daten ändern")
e2e_shot vantor-card-data
# The new balance has the focus with its text selected; Tab selects the telephone number.
xdotool type --delay 40 "777"
xdotool key Tab
xdotool type --delay 40 "0301234999"
xdotool key Return
e2e_window "Fehler" >/dev/null
e2e_shot vantor-saved
[ "$(cat "$trace")" = "$(printf '64\tFehler\tKartendaten erfolgreich gespeichert')" ] ||
  fail "box: $(cat "$trace")"
xdotool key Return
e2e_gone "Fehler"

# The monitoring program sends the character 0xA0 to the window titled "Set Prepaid" and gets
# message 0x404 back.
"$receiver_program" >"$work/gorvex.txt" &
receiver=$!
tries=0
until grep -q "^listening" "$work/gorvex.txt"; do
  tries=$((tries + 1))
  [ "$tries" -gt 100 ] && fail "the receiver does not start"
  sleep 0.05
done
"$post" "Set Prepaid" 0x102 0xA0 || fail "posting to the card editor"
tries=0
until grep -q "^message 0x404 " "$work/gorvex.txt"; do
  tries=$((tries + 1))
  [ "$tries" -gt 100 ] && kill "$receiver" && fail "no notification: $(cat "$work/gorvex.txt")"
  sleep 0.05
done
kill "$receiver"
wait "$receiver"

xdotool windowactivate --sync "$main" key alt+F4
e2e_wait_exit

[ "$(field $index 0)" = 100 ] || fail "card number $(field $index 0)"
[ "$(field $index 4)" = 777 ] || fail "balance $(field $index 4)"
[ "$(byte $index 10)" = 10 ] || fail "telephone digits $(byte $index 10)"
[ "$(field $index 24)" = 0 ] || fail "telephone high $(field $index 24)"
[ "$(field $index 28)" = 301234999 ] || fail "telephone low $(field $index 28)"
[ "$(field $index 16)" = 221555999 ] || fail "the last number changed: $(field $index 16)"
placement=$(e2e_placement)
echo "$placement" | grep -Eq '^-?[0-9]+,-?[0-9]+,[0-9]+,[0-9]+$' || fail "placement \"$placement\""

# In English: the interface language chosen in the user profile. The window stored low on the
# screen, at a place of its own, so that the test sees the stored placement used.
screen_height=$(xdotool getdisplaygeometry | cut -d ' ' -f 2)
width=$(echo "$placement" | cut -d , -f 3)
height=$(echo "$placement" | cut -d , -f 4)
low="130,$((screen_height - height - 40)),$width,$height"
printf '[Tarnwell]\r\nLanguage=english\r\n[Lindavox]\r\nquillet_pos=%s\r\n' "$low" >"$config/win.ini"
: >"$trace"
e2e_start vantor
main=$(e2e_window "Set Prepaid")
xdotool type --delay 40 "4711"
xdotool key Return
e2e_window "Error" >/dev/null
e2e_shot vantor-english-error
[ "$(cat "$trace")" = "$(printf '16\tError\tInvalid card number or empty card')" ] ||
  fail "English box: $(cat "$trace")"
xdotool key Return
e2e_gone "Error"
xdotool windowactivate --sync "$main" key --delay 40 BackSpace BackSpace BackSpace BackSpace 1 0 0 Return
dialog=$(e2e_window "Change card data")
e2e_shot vantor-english-card-data
# All of the dialog is on the screen, although its owner's client area ends near the bottom
# (the window manager may first put it elsewhere; the program moves it back).
tries=0
while :; do
  bottom=$(xwininfo -id "$dialog" | awk '/Absolute upper-left Y/ { y = $4 } /Height/ { h = $2 }
                                         END { print y + h }')
  [ "$bottom" -le "$screen_height" ] && break
  tries=$((tries + 1))
  [ "$tries" -gt 60 ] && fail "the dialog ends at $bottom, below the screen"
  sleep 0.05
done
xdotool key Escape
e2e_gone "Change card data"
xdotool windowactivate --sync "$main" key alt+F4
e2e_wait_exit
[ "$(field $index 4)" = 777 ] || fail "cancel changed the balance"
[ "$(e2e_placement)" = "$low" ] || fail "placement not used: $low -> $(e2e_placement)"
echo "vantor end to end: ok"
