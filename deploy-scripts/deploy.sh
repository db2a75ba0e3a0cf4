#!/bin/sh
# deploy.sh - stages the driver set for this machine before an unattended installation.
#
#   deploy.sh DRIVERPATH TARGET DESTDIR [MACHINETYPES]
#
#   DRIVERPATH    root of the driver repository, e.g. /srv/kit/drvs
#   TARGET        the installation media (a directory, or its PRODSPEC.INI or idwbinfo.txt),
#                 or else a Windows version for /W: (0 to 8, or a name such as Win2008Server)
#   DESTDIR       directory the latest matching driver set is copied into
#   MACHINETYPES  optional machine types for /M:, e.g. 6123,7340
#
#   halvard:      $HALVARD if set, else beside this script, else on the PATH.
#   Batch file:   $DRVSET_BAT if set (and left in place), else a private file from mktemp in
#                 ${TMPDIR:-/tmp}, removed when the script ends.
#   Exit code:    Halvard's own: 0 driver set staged, 1 none found (go on with the in-box
#                 drivers), 2 to 6 an error; 9 when halvard cannot be found.
set -u

if [ $# -lt 3 ]; then
    echo "usage: deploy.sh DRIVERPATH TARGET DESTDIR [MACHINETYPES]" >&2
    exit 2
fi
driverpath=$1 target=$2 destdir=$3 machinetypes=${4:-}

halvard=${HALVARD:-}
if [ -z "$halvard" ]; then
    if [ -x "$(dirname "$0")/halvard" ]; then
        halvard=$(dirname "$0")/halvard
    else
        halvard=$(command -v halvard) || { echo "deploy: halvard not found; set HALVARD to its path"; exit 9; }
    fi
fi
# A fixed name in a shared folder would let another user plant a link there for the program
# to write through; so without DRVSET_BAT the batch file is a fresh file of our own.
batch=${DRVSET_BAT:-}
temporary=""
if [ -z "$batch" ]; then
    trap '[ -z "$temporary" ] || rm -f -- "$temporary"' EXIT
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
    temporary=$(mktemp "${TMPDIR:-/tmp}/DrvSet.XXXXXX") ||
        { echo "deploy: cannot create a batch file in ${TMPDIR:-/tmp}"; exit 3; }
    batch=$temporary
fi

# A TARGET that exists is installation media; anything else names the Windows version.
if [ -e "$target" ]; then target_option=/WP:$target; else target_option=/W:$target; fi

status=0
"$halvard" "$driverpath" "$target_option" ${machinetypes:+"/M:$machinetypes"} "/B:$batch" ||
    status=$?
echo

# The batch file is a Windows one (SET NAME=VALUE, CR LF). QL_NOS_DDL_Path_# is no shell
# name, so each value is read by its variable's name instead of being evaluated. The values
# are escaped for cmd: every % is doubled, and outside double quotes a ^ goes before each of
# & | < > ^. value NAME undoes exactly that, so folder names come back as they are.
value() {
    awk -v name="$1" 'index($0, "SET " name "=") == 1 {
        text = substr($0, length(name) + 6)
        sub(/\r$/, "", text)
        out = ""
        quoted = 0
        for (i = 1; i <= length(text); i++) {
            c = substr(text, i, 1)
            if (c == "\"") {
                quoted = !quoted
            } else if (c == "%" || (c == "^" && !quoted)) {
                i++
                c = substr(text, i, 1)
            }
            out = out c
        }
        print out
        exit
    }' "$batch"
}

case $status in
0)
    count=$(value 'QL_NOS_DDL_Path_#')
    latest=$(value QL_NOS_DDL_Path_1)
    echo "deploy: target $(value QL_NOS_DDL_Type) - family $(value QL_NOS_Type)," \
         "$(value QL_NOS_Arch_Type), $(value QL_NOS_Arch)"
    echo "deploy: $count matching driver set(s), latest first:"
    i=1
    while [ "$i" -le "$count" ]; do
        echo "deploy:   $(value "QL_NOS_DDL_Path_$i")"
        i=$((i + 1))
    done
    echo "deploy: all driver sets of $(value QL_NOS_DDL_Type): $(value QL_NOS_All_DDL_Paths)"
    echo "deploy: copying $latest to $destdir"
    if ! { mkdir -p "$destdir" && cp -R "$latest/." "$destdir/"; }; then
        echo "deploy: copying the driver set to $destdir failed"
        exit 6
    fi
    echo "deploy: driver set staged"
    ;;
1) echo "deploy: no driver set for $(value QL_NOS_DDL_Type) on this machine: in-box drivers only" ;;
2) echo "deploy: halvard did not accept its command line, see the usage above" ;;
3) echo "deploy: cannot write the batch file $batch" ;;
4) echo "deploy: driver repository $driverpath not found" ;;
5) echo "deploy: no Windows version found on the media $target" ;;
6) echo "deploy: halvard failed with a general error" ;;
*) echo "deploy: halvard ended with the unknown exit code $status" ;;
esac
exit "$status"
