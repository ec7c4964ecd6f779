#pragma once

#include <QWidget>

class QCloseEvent;

// One of the program's windows. Each is created once and lives for the whole
// run; "loaded" is a state, not an object lifetime. The first use of a window
// that is not loaded runs its set-up; unloading runs its closing sequence,
// hides it and puts its controls back to their design-time state.
class Form : public QWidget {
    Q_OBJECT
public:
    explicit Form(QWidget* parent = nullptr);

    bool isLoaded() const { return loaded_; }
    // True while the closing sequence runs.
    bool isUnloading() const { return unloading_; }

    // Runs the set-up when the window is not loaded yet.
    void ensureLoaded();

    // Runs the closing sequence (only for a loaded window), hides the window
    // and resets it. Safe to call again while a closing sequence is running.
    void unload();

    // Unloads without the closing sequence, for a window whose purpose was
    // never reached (nothing of it is kept or announced).
    void discard();

protected:
    virtual void Form_Load() {}
    virtual void Form_QueryUnload() {}
    // Ends what the window owns (timers, sockets, kept bytes) and restores
    // the design-time controls.
    virtual void resetToDesign() {}

    void closeEvent(QCloseEvent* event) override;

private:
    bool loaded_ = false;
    bool unloading_ = false;
};

// Positions are given in twips (1/1440 inch); the screen's logical DPI turns
// them into pixels.
int twipsToPixelsX(int twips);
int twipsToPixelsY(int twips);
int pixelsToTwipsX(double pixels);
int pixelsToTwipsY(double pixels);
double twipsPerPixelX();
double twipsPerPixelY();
void setTwipGeometry(QWidget* widget, int left, int top, int width, int height);
