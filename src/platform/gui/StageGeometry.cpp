#include "platform/gui/StageGeometry.h"

#include <algorithm>
#include <cmath>

namespace StageGeometry {

namespace {

double usableAspect(double aspectRatio)
{
    return std::isfinite(aspectRatio) && aspectRatio > 0 ? aspectRatio : 16.0 / 9.0;
}

double finiteOr(double value, double fallback)
{
    return std::isfinite(value) ? value : fallback;
}

} // namespace

StageLayout layout(QSizeF stage, const StageView &view)
{
    StageLayout result;
    result.main = mainTransform(stage, view);
    if (view.showInset)
        result.inset = insetRect(stage, view.aspectRatio);
    result.insetLabel = insetLabel(view.swapped);
    return result;
}

QTransform mainTransform(QSizeF stage, const StageView &view)
{
    const double zoom = finiteOr(view.zoom, 1);
    const QPointF centre(stage.width() / 2, stage.height() / 2);
    // QTransform applies the step named last first.
    QTransform transform;
    transform.translate(centre.x(), centre.y());
    transform.rotate(finiteOr(view.rotation, 0));
    transform.translate(finiteOr(view.pan.width(), 0), finiteOr(view.pan.height(), 0));
    transform.scale(view.mirrored ? -zoom : zoom, zoom);
    transform.translate(-centre.x(), -centre.y());
    return transform;
}

QRectF insetRect(QSizeF stage, double aspectRatio)
{
    const double width = std::max(stage.width() * insetShare, minimumInsetWidth);
    const double height = width / usableAspect(aspectRatio);
    return QRectF(stage.width() - insetMargin - width, insetMargin, width, height);
}

QString insetLabel(bool swapped)
{
    return swapped ? QStringLiteral("FRONT") : QStringLiteral("REAR");
}

QRectF fitted(QSizeF area, double aspectRatio)
{
    const double aspect = usableAspect(aspectRatio);
    QSizeF size(area.width(), area.width() / aspect);
    if (size.height() > area.height())
        size = QSizeF(area.height() * aspect, area.height());
    return QRectF(QPointF((area.width() - size.width()) / 2, (area.height() - size.height()) / 2), size);
}

double renderScale(QSizeF stagePixels, double zoom, QSizeF videoPixels)
{
    zoom = std::isfinite(zoom) ? std::max(zoom, 1.0) : 1.0;
    if (videoPixels.isEmpty() || stagePixels.isEmpty())
        return zoom;
    const QSizeF shown = fitted(stagePixels, videoPixels.width() / videoPixels.height()).size();
    const double detail = std::max(1.0, videoPixels.width() / shown.width());
    return std::min(zoom, detail);
}

} // namespace StageGeometry
