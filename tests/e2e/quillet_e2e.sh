#!/bin/sh
# quillet from start to close, as a person uses it: query a demo card, read the box, confirm,
# close with Alt+F4; then again, to see it open where it was closed.
#   quillet_e2e.sh QUILLET MAKE_DEMO SCREENSHOT_DIR
. "$(dirname "$0")/session.sh"
e2e_setup "$1" "$2" "$3"

e2e_start quillet
e2e_window "Prepaid Guthabenabfrage"
main=$window
e2e_shot quillet-main
xdotool type --delay 40 "1x00"  # the letter is refused by the field
xdotool key Return
e2e_window "Kartennummer 00100"
e2e_shot quillet-result
expected=$(printf '64\tKartennummer 00100\tGuthaben: 250 Einheiten\\n\\nLetzte Nummer: 0221555999')
[ "$(cat "$trace")" = "$expected" ] || fail "box: $(cat "$trace")"
xdotool key Return
x_gone "Kartennummer 00100"

# A card that does not exist.
x_activate "$main"
xdotool key --delay 40 BackSpace BackSpace BackSpace 7 7 Return
e2e_window "Fehler"
last=$(tail -n 1 "$trace" | iconv -f CP1252 -t UTF-8)
[ "$last" = "$(printf '16\tFehler\tKartennummer ungültig oder Karte leer')" ] || fail "error box: $last"
xdotool key Return
x_gone "Fehler"

x_activate "$main"
xdotool key alt+F4
e2e_wait_exit
first=$(e2e_placement)
echo "$first" | grep -Eq '^-?[0-9]+,-?[0-9]+,[0-9]+,[0-9]+$' || fail "placement \"$first\""

# Started again it opens at the stored placement: one of its own, unlike where a fresh start
# centres the window, is where the window shows and what closing it unmoved stores again.
stored="150,100,$(echo "$first" | cut -d , -f 3-4)"
printf '[Lindavox]\r\nquillet_pos=%s\r\n' "$stored" >"$config/win.ini"
e2e_start quillet
e2e_window "Prepaid Guthabenabfrage"
xdotool key alt+F4
e2e_wait_exit
[ "$(e2e_placement)" = "$stored" ] || fail "placement not used: $stored -> $(e2e_placement)"
echo "quillet end to end: ok ($first, then $stored)"
