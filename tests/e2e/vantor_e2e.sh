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
e2e_window "Set Prepaid"
main=$window
e2e_shot vantor-main
xdotool type --delay 40 "100"
# Pastes are checked as a whole, as typed keys are: "1 005" from the clipboard (Ctrl+V,
# Shift+Insert) and "9x" from the primary selection (middle button, on the field) change
# nothing, so the search below finds card 100, not card 1. Each paste has had its answer
# before the next key.
x_serve '1 005' clipboard 2
xdotool key ctrl+a ctrl+v shift+Insert
x_served
x_serve '9x' primary 1
xdotool mousemove --window "$main" 150 35 click 2
x_served
e2e_shot vantor-refused-paste
xdotool key Return
e2e_window "Karten-Daten ändern"
e2e_shot vantor-card-data
# The new balance has the focus with its text selected; Tab selects the telephone number.
xdotool type --delay 40 "777"
xdotool key Tab
xdotool type --delay 40 "0301234999"
xdotool key Return
e2e_window "Fehler"
e2e_shot vantor-saved
[ "$(cat "$trace")" = "$(printf '64\tFehler\tKartendaten erfolgreich gespeichert')" ] ||
  fail "box: $(cat "$trace")"
xdotool key Return
x_gone "Fehler"

# The monitoring program sends the character 0xA0 to the window titled "Set Prepaid" and gets
# message 0x404 back.
"$receiver_program" >"$work/gorvex.txt" &
receiver=$!
x_until "the receiver to listen" grep -q "^listening" "$work/gorvex.txt"
"$post" "Set Prepaid" 0x102 0xA0 || fail "posting to the card editor"
notified() { grep -q "^message 0x404 " "$work/gorvex.txt"; }
x_wait notified || fail "no notification: $(cat "$work/gorvex.txt")"
kill "$receiver"
wait "$receiver"

x_activate "$main"
xdotool key alt+F4
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
e2e_window "Set Prepaid"
main=$window
xdotool type --delay 40 "4711"
xdotool key Return
e2e_window "Error"
e2e_shot vantor-english-error
[ "$(cat "$trace")" = "$(printf '16\tError\tInvalid card number or empty card')" ] ||
  fail "English box: $(cat "$trace")"
xdotool key Return
x_gone "Error"
x_activate "$main"
xdotool key --delay 40 BackSpace BackSpace BackSpace BackSpace 1 0 0 Return
e2e_window "Change card data"
dialog=$window
e2e_shot vantor-english-card-data
# All of the dialog is on the screen, although its owner's client area ends near the bottom.
# The window manager may first put it elsewhere; before it activated the dialog, the program
# has asked to move it back.
bottom() {
  xwininfo -id "$dialog" | awk '/Absolute upper-left Y/ { y = $4 } /Height/ { h = $2 }
                                END { print y + h }'
}
on_screen() { [ "$(bottom)" -le "$screen_height" ]; }
x_wait on_screen || fail "the dialog ends at $(bottom), below the screen"
xdotool key Escape
x_gone "Change card data"
x_activate "$main"
xdotool key alt+F4
e2e_wait_exit
[ "$(field $index 4)" = 777 ] || fail "cancel changed the balance"
[ "$(e2e_placement)" = "$low" ] || fail "placement not used: $low -> $(e2e_placement)"
echo "vantor end to end: ok"
