# Sourced by scripts/run-app and scripts/measure: a folder of images for the local web API to serve (olvo-webapi
# --images), under the file names its built-in content gives the packages' logos and icons and the filler image
# (their hosts are not reachable here). The images are our own artwork, drawn by the build.
# webapi_images <build-dir> <folder>
webapi_images() {
    local artwork="$1/resources/artwork" folder="$2" name
    mkdir -p "$folder"
    for name in logo-starter logo-sports; do cp "$artwork/logoBanner.png" "$folder/$name.png"; done
    for name in icon-starter icon-sports; do cp "$artwork/appIcon.png" "$folder/$name.png"; done
    cp "$artwork/sunLarge.png" "$folder/tips.png"
}
