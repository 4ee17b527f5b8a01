#!/usr/bin/env bash
# Fails when a source file crosses the layers:
#  - a backend or the loader included outside platform/ and app/ (the layers
#    from capture to settings use the platform's interfaces, and of the FFmpeg
#    library only SwsScaler, AudioResampler and MovieProbe);
#  - a Qt Widgets header included below the toolbar (capture, engine, prefs but
#    its widgets/ library, model, the platform's interfaces and core/).
# Tests and benchmarks may reach anything. Prints every offending line.
set -euo pipefail
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

if ((failed)); then
    echo "check-layers: see Recorder/CMakeLists.txt for the layers" >&2
    exit 1
fi
echo "check-layers: the layers hold"
