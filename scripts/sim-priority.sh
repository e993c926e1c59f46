# plcsim at a raised scheduling priority where this user may raise it (root): a controller
# never pauses, and a simulator the host holds up less often has less to tell apart from the
# program's faults (what it then excuses, it says). Not a real-time class: a simulator that
# could starve the program under test would hide its faults instead. Sourced; SIM_NICE is the
# prefix of every plcsim command line.
SIM_NICE=()
if [ "$(id -u)" = 0 ] && nice -n -10 true 2>/dev/null; then
    SIM_NICE=(nice -n -10)
fi
