#!/bin/sh
# vantor from start to close, as a person uses it: search demo card 100, type a new balance and
# telephone number, save, confirm, close with Alt+F4; check the record on disk and the stored
# placement. Then again with the English language file chosen.
#   vantor_e2e.sh VANTOR MAKE_DEMO ENGLISH_LX SCREENSHOT_DIR
. "$(dirname "$0")/session.sh"
e2e_setup "$1" "$2" "$4"
cp "$3" "$data"

# A 32-bit little-endian field of record INDEX at OFFSET, and its one-byte digit count.
field() { od -A n -t d4 -j $(($1 * 32 + $2)) -N 4 "${data}PREPAID.DAT" | tr -d ' '; }
byte() { od -A n -t u1 -j $(($1 * 32 + $2)) -N 1 "${data}PREPAID.DAT" | tr -d ' '; }
index=9  # card 100

e2e_start vantor
main=$(e2e_window "Set Prepaid")
e2e_shot vantor-main
xdotool type --delay 40 "100"
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

# In English: the interface language chosen in the user profile.
printf '[Tarnwell]\r\nLanguage=english\r\n' >"$config/win.ini.new"
sed -n '/^\[Lindavox\]/,$p' "$config/win.ini" >>"$config/win.ini.new"
mv "$config/win.ini.new" "$config/win.ini"
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
xdotool key --delay 40 BackSpace BackSpace BackSpace BackSpace 1 0 0 Return
e2e_window "Change card data" >/dev/null
e2e_shot vantor-english-card-data
xdotool key Escape
e2e_gone "Change card data"
xdotool windowactivate --sync "$main" key alt+F4
e2e_wait_exit
[ "$(field $index 4)" = 777 ] || fail "cancel changed the balance"
[ "$(e2e_placement)" = "$placement" ] || fail "placement moved: $placement -> $(e2e_placement)"
echo "vantor end to end: ok"
