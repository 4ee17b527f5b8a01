#!/usr/bin/env bash
# Fails when a source file crosses the layers:
#  - a backend or the loader included outside platform/ and app/ (the layers
#    from capture to settings use the platform's interfaces, and of the FFmpeg
#    library only SwsScaler, AudioResampler and MovieProbe);
#  - a Qt Widgets header included below the toolbar (capture, engine, prefs but
#    its widgets/ library, model, the platform's interfaces and core/).
# Tests and benchmarks may reach anything. Prints every offending line.
#
# Given a build folder (test.sh passes build/ after building), it also reads
# the built libraries: a layer's library that calls a function only a backend
# or the loader defines fails, whatever it included to get there.
set -euo pipefail
shopt -s lastpipe # report, last in its pipelines, runs in this shell and can set failed
cd "$(dirname "$0")/.."

failed=0
report() {
    # $1: what is wrong; stdin: grep's "file:line:text" lines
    local found
    found=$(cat)
    if [[ -n "$found" ]]; then
        echo "check-layers: $1:" >&2
        echo "$found" >&2
        failed=1
    fi
}

include='^[[:space:]]*#[[:space:]]*include[[:space:]]*'

# Backends and the loader, outside the platform layer and the application shell.
backend_dirs=(capture engine prefs model tools toolbar settings)
grep -rnE --include='*.h' --include='*.cpp' \
    "${include}[\"<]platform/((x11|pulse|v4l2|dbus|synthetic|widgets)/|ffmpeg/|PlatformLoader\.h)" \
    "${backend_dirs[@]/#/Recorder/}" \
    | grep -vE "[\"<]platform/ffmpeg/(SwsScaler|AudioResampler|MovieProbe)\.h[\">]" \
    | report "a backend or the loader included above the platform layer" || true

# Qt Widgets below the toolbar. The module's header names come from the
# installed headers; without them, the usual ones.
widgets_dir=""
for dir in "$(pkg-config --variable=includedir Qt6Widgets 2>/dev/null)/QtWidgets" \
           /usr/include/*/qt6/QtWidgets /usr/include/qt6/QtWidgets; do
    if [[ -d "$dir" ]]; then
        widgets_dir=$dir
        break
    fi
done
if [[ -n "$widgets_dir" ]]; then
    names=$(ls "$widgets_dir" | grep -E '^(Q[A-Za-z0-9]+|q[a-z0-9_]+\.h)$' | paste -sd'|')
else
    names='QApplication|QWidget|QLabel|QPushButton|QAbstractButton|QToolButton|QDialog|QDialogButtonBox|QFileDialog|QMessageBox|QMenu|QAction|QLineEdit|QTextEdit|QFrame|QLayout|QBoxLayout|QHBoxLayout|QVBoxLayout|QGridLayout|QStackedWidget|QScrollArea|QSlider|QCheckBox|QComboBox|QSpinBox|QStyle|QStyleOption|QToolTip|QSystemTrayIcon|QMainWindow|QGraphicsView|QSizePolicy'
fi
widget_dirs=(Recorder/capture Recorder/engine Recorder/prefs Recorder/model Recorder/platform/core)
{
    grep -rnE --include='*.h' --include='*.cpp' "${include}<(QtWidgets([/>])|(${names})>)" "${widget_dirs[@]}" \
        | grep -v '^Recorder/prefs/widgets/' || true
    grep -nE "${include}<(QtWidgets([/>])|(${names})>)" Recorder/platform/*.h Recorder/platform/*.cpp || true
} | report "a Qt Widgets header included below the toolbar"

if [[ $# -ge 1 ]]; then
    libs="$1/Recorder"
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    # "archive:member: value type name" for the functions and data a library defines.
    defined() { nm -A --defined-only "$@" 2>/dev/null | awk '$(NF-1) ~ /^[TDBRGS]$/ { print $1, $NF }'; }
    {
        for backend in x11 pulse v4l2 dbus synthetic widgets; do
            defined "$libs/libcorvessa_platform_$backend.a" || true
        done
        defined "$libs/libcorvessa_platform_ffmpeg.a" | grep -vE ':(SwsScaler|AudioResampler|MovieProbe)\.cpp\.o:' || true
        # The loader also defines the interfaces' accessors; only its own class is off limits.
        defined "$libs/libcorvessa_platform_loader.a" | awk '$2 ~ /14PlatformLoader/' || true
    } | awk '{ print $2 }' | sort -u >"$tmp/backends"
    for layer in capture prefs prefs_widgets compositor engine model toolbar_kit toolbar tools settings; do
        archive="$libs/libcorvessa_$layer.a"
        [[ -f "$archive" ]] || continue
        nm --undefined-only "$archive" 2>/dev/null | awk '{ print $NF }' | sort -u \
            | comm -12 - "$tmp/backends" | c++filt | sed "s|^|$archive: |" \
            | report "a layer's library calls into a backend or the loader" || true
    done
fi

if ((failed)); then
    echo "check-layers: see Recorder/CMakeLists.txt for the layers" >&2
    exit 1
fi
echo "check-layers: the layers hold"
