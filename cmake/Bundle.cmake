# Helpers that assemble the application bundles.
