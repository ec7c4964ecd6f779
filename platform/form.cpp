#include "platform/form.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

Form::Form(QWidget* parent)
    : QWidget(parent)
{
}

void Form::ensureLoaded()
{
    if (loaded_)
        return;
    loaded_ = true;
    Form_Load();
}

void Form::unload()
{
    if (!loaded_ || unloading_)
        return;
    unloading_ = true;
    Form_QueryUnload();
    hide();
    resetToDesign();
    loaded_ = false;
    unloading_ = false;
}

void Form::discard()
{
    if (!loaded_ || unloading_)
        return;
    hide();
    resetToDesign();
    loaded_ = false;
}

void Form::closeEvent(QCloseEvent* event)
{
    // The close box unloads the window; the window itself stays for reuse.
    event->ignore();
    unload();
    hide();
}

namespace {
double logicalDpiX()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchX() : 96.0;
}
double logicalDpiY()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() : 96.0;
}
} // namespace

double twipsPerPixelX()
{
    return 1440.0 / logicalDpiX();
}

double twipsPerPixelY()
{
    return 1440.0 / logicalDpiY();
}

int twipsToPixelsX(int twips)
{
    return static_cast<int>(std::lround(twips / twipsPerPixelX()));
}

int twipsToPixelsY(int twips)
{
    return static_cast<int>(std::lround(twips / twipsPerPixelY()));
}

int pixelsToTwipsX(double pixels)
{
    return static_cast<int>(std::lround(pixels * twipsPerPixelX()));
}

int pixelsToTwipsY(double pixels)
{
    return static_cast<int>(std::lround(pixels * twipsPerPixelY()));
}

void setTwipGeometry(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(twipsToPixelsX(left), twipsToPixelsY(top), twipsToPixelsX(width), twipsToPixelsY(height));
}
