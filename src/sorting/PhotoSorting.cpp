#include "sorting/PhotoSorting.h"

#include "platform/core/SafePathComponent.h"

namespace vornakel {

PhotoSorting::PhotoSorting(std::shared_ptr<PhotoSortingStep> fileNameStep, StepList folderSteps)
    : m_fileNameStep(std::move(fileNameStep))
    , m_folderSteps(std::make_shared<const StepList>(std::move(folderSteps)))
{
}

void PhotoSorting::setFolderSteps(StepList folderSteps)
{
    m_folderSteps.store(std::make_shared<const StepList>(std::move(folderSteps)));
}

QString PhotoSorting::destinationFor(const PhotoVariant& variant, const QString& base,
                                     const SortingContext& context) const
{
    QString path = base;
    // "/" stays the root; any other trailing separators are dropped so that no empty level appears.
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (!path.endsWith(QLatin1Char('/')) && !path.isEmpty())
        path += QLatin1Char('/');

    const std::shared_ptr<const StepList> folders = m_folderSteps.load();
    for (const auto& step : *folders) {
        path += safePathComponent(step->name(variant, context));
        path += QLatin1Char('/');
    }
    path += safePathComponent(m_fileNameStep->name(variant, context));
    return path;
}

} // namespace vornakel
