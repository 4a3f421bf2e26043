# The layers of src/, low to high, as the folders each one may include from:
#   platform -> core -> engine -> categories | repair | services -> app -> ui and apps
# with tweaks above repair: a tweak is applied inside a cleaning run's partial backup.
# A target (src/targets/*) implements the platform surface and sees only the platform, the
# core and the other targets; only app and above know which targets exist.
# Read by QuillaryTargets.cmake, which gives each library an include view of these folders
# alone, and by CheckLayers.cmake, the test that reads every #include.
set(QUILLARY_LAYER_platform platform)
set(QUILLARY_LAYER_core platform core)
set(QUILLARY_LAYER_engine platform core engine)
set(QUILLARY_LAYER_categories platform core engine categories)
set(QUILLARY_LAYER_repair platform core engine repair)
set(QUILLARY_LAYER_services platform core engine services)
set(QUILLARY_LAYER_tweaks platform core engine repair tweaks)
set(QUILLARY_LAYER_app platform core engine categories repair services tweaks app targets)
set(QUILLARY_LAYER_ui platform core engine categories repair services tweaks app targets ui)
set(QUILLARY_LAYER_targets platform core targets)
set(QUILLARY_LAYERS platform core engine categories repair services tweaks app ui targets)
